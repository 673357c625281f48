#pragma once
// The real Lathmark window over a working folder of the test's own, and the ways the tests
// reach its controls: by their names, with clicks as the operator makes them.

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/main_window.h"

namespace lathmark::test {

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

  private:
    QTemporaryDir folder_;
    QString previous_;
    std::unique_ptr<Lathmark> window_;
};

}  // namespace lathmark::test
