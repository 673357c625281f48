#pragma once
// The real Lathmark window over a working folder of the test's own, the ways the tests reach its
// controls (by their names, with clicks and keys as the operator makes them), and what the
// operator sees of a count.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/main_window.h"

namespace lathmark::test {

// The colour of a message that says why nothing was counted.
inline const QColor kRed(192, 0, 0);

// What the operator sees of a count.
struct Shown {
    QString message;
    QString time;
    QString count;
    QString current;
    QString total;
    QSize photograph;  // invalid when no photograph is shown
    QSize result;      // invalid when no result image is shown
    bool red = false;  // the message is in red

    bool operator==(const Shown&) const = default;
};

inline void PrintTo(const Shown& shown, std::ostream* out) {
    const auto size = [](QSize s) {
        return std::to_string(s.width()) + " x " + std::to_string(s.height());
    };
    *out << "{message \"" << shown.message.toStdString() << "\", time \""
         << shown.time.toStdString() << "\", counters " << shown.count.toStdString() << " / "
         << shown.current.toStdString() << " / " << shown.total.toStdString()
         << (shown.photograph.isValid() ? ", photograph " + size(shown.photograph) : "")
         << (shown.result.isValid() ? ", result " + size(shown.result) : "")
         << (shown.red ? ", red" : "") << "}";
}

// How wide `text` is drawn on one line in `font`, glyphs that reach past their advance included.
inline int lineWidth(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width());
}

// Runs `action` and gives back the text of the message box it opened, if any, closing it.
inline QString textOfDialogDuring(const std::function<void()>& action) {
    QString text;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    closer.start();
    action();
    closer.stop();
    return text;
}

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(folder_.path()));
    }

    void TearDown() override {
        window_.reset();
        QDir::setCurrent(previous_);
    }

    std::filesystem::path here() const { return folder_.path().toStdString(); }
    std::filesystem::path here(const std::string& name) const { return here() / name; }

    // Builds and shows the window over the folder as it is now.
    Lathmark& open(std::optional<std::filesystem::path> settings = std::nullopt) {
        window_.reset();  // the window before lets go of its journal first, as a process would
        window_ = settings ? std::make_unique<Lathmark>(*settings) : std::make_unique<Lathmark>();
        window_->show();
        window_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        return *window_;
    }

    Lathmark& window() { return *window_; }

    template <typename Control>
    Control* control(const char* name) {
        auto* found = window_->findChild<Control*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLabel* label(const char* name) { return control<QLabel>(name); }
    // A label's text as the operator reads it, without the places it may break a long word.
    QString shownText(const char* name) { return label(name)->text().remove(QChar(0x200B)); }
    QListWidget* list() { return control<QListWidget>("File1"); }

    QStringList listed() {
        QStringList names;
        for (int row = 0; row < list()->count(); ++row) names << list()->item(row)->text();
        return names;
    }

    // Clicks the list entry `entry`, scrolled into view first.
    void click(const QString& entry, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QList<QListWidgetItem*> items = list()->findItems(entry, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << entry.toStdString() << " is not listed";
        list()->scrollToItem(items.front());
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers,
                          list()->visualItemRect(items.front()).center());
    }
    void click(const std::string& entry) { click(QString::fromStdString(entry)); }
    void click(const char* entry) { click(QString(entry)); }

    void newBook() { QTest::mouseClick(control<QPushButton>("cmdReset"), Qt::LeftButton); }

    Shown shown() {
        const auto size = [](const QLabel* picture) {
            return picture->pixmap().isNull() ? QSize() : picture->pixmap().size();
        };
        return {shownText("Label3"),
                label("pTime")->text(),
                label("vCount")->text(),
                label("vCurrentCount")->text(),
                label("vTotalCount")->text(),
                size(label("Image2")),
                size(label("Image1")),
                label("Label3")->palette().color(QPalette::WindowText) == kRed};
    }

    // The size a photograph of `size` pixels is shown at: at most its picture box's.
    QSize shownSize(QSize size) { return size.boundedTo(label("Image2")->contentsRect().size()); }

    // A count went through: message, counters, time and both pictures. The message is the
    // count's alone, unless `warned`: then a warning follows it.
    void expectCounted(int boards, int count, long long total, bool warned = false) {
        const Shown s = shown();
        const QString counted = QString("Detected %1 obvious lines.").arg(boards);
        EXPECT_TRUE(warned ? s.message.startsWith(counted) : s.message == counted)
            << s.message.toStdString();
        EXPECT_FALSE(s.red);
        EXPECT_EQ(s.count, QString::number(count));
        EXPECT_EQ(s.current, QString::number(boards));
        EXPECT_EQ(s.total, QString::number(total));
        EXPECT_TRUE(
            QRegularExpression(R"(^Process Time: \d+([.,]\d\d?)? sec\.$)").match(s.time).hasMatch())
            << s.time.toStdString();
        EXPECT_TRUE(s.photograph.isValid());
        EXPECT_TRUE(s.result.isValid());
    }

    // The result picture shows test.bmp as written: a two-level image of the band's size,
    // whole where it fits its box, or averaged down to the box.
    void expectResultFileShown(QSize band) {
        QImage written;
        ASSERT_TRUE(written.load("test.bmp", "BMP")) << "test.bmp was not written";
        EXPECT_EQ(written.depth(), 1);
        EXPECT_EQ(written.size(), band);
        const QImage picture =
            label("Image1")->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        written = written.convertToFormat(QImage::Format_RGB32);
        if (picture.size() == band) {
            EXPECT_EQ(picture, written);
            return;
        }
        ASSERT_EQ(picture.size(), shownSize(band));
        const QImage scaled =
            written.scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        long long difference = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                difference += std::abs(qGray(picture.pixel(x, y)) - qGray(scaled.pixel(x, y)));
        EXPECT_LT(difference, 8LL * picture.width() * picture.height());
    }

  private:
    QTemporaryDir folder_;
    QString previous_;
    std::unique_ptr<Lathmark> window_;
};

}  // namespace lathmark::test
