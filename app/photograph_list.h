#pragma once
// The window's list of photographs: each entry shows its file name as the locale spells it and
// keeps the name's bytes as the file system has them, so that a name the locale cannot spell
// still opens the right file. Entries are kept in the order of the engine's listing.

#include <QString>
#include <functional>
#include <string>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace lathmark {

enum class PhotographMark;

// A file name's bytes as text for the screen.
QString fromNative(const std::string& text);

// The file name an entry stands for, as the file system spells it.
std::string photographName(const QListWidgetItem* entry);

// The entry of `name`, added in its place if it was not listed.
QListWidgetItem* listPhotograph(QListWidget* list, const std::string& name);

// Takes the entry of `name` off the list, if it is listed.
void unlistPhotograph(QListWidget* list, const std::string& name);

// Makes the list hold `names` (sorted as the engine sorts them): entries of other names leave,
// the missing ones join in their place, the others stay as they are (selection included).
void relistPhotographs(QListWidget* list, const std::vector<std::string>& names);

// Gives every entry the mark of what became of its photograph in the book: a green dot for a
// count, an amber one for an uncertain count, a red one for a refusal, a green ring for a count
// the operator corrected, a green tick for one confirmed, none for a photograph not counted; each
// with a tooltip that says it in words.
void markPhotographs(QListWidget* list,
                     const std::function<PhotographMark(const std::string&)>& of);

}  // namespace lathmark
