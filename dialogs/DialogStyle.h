#pragma once
// The look of every dialog of the program: one style sheet of ours, the skin "RVN (internal)". It
// follows the tray menu: a dark, slightly translucent surface, white bold captions, light text
// with enough contrast to read, a clear focus ring for keyboard users and dimmed (but still
// legible) disabled controls.

#include <QIcon>
#include <QString>

class QWidget;

namespace DialogStyle {

/// The skin's name, as the dialogs report it.
inline constexpr const char *SkinName = "RVN (internal)";

/// The whole style sheet of the skin.
const QString &StyleSheet();

/// Gives Dialog the skin: the style sheet, the dark palette it rests on and a readable font size.
void Apply(QWidget *Dialog);

/// The group boxes' open/close pictures (image 1 "minus" for an open group, image 0 "plus" for a
/// closed one), 22 x 22: the program's pictures ":/minus" and ":/plus".
QIcon GroupStateIcon(bool Open);

/// The warning picture, 48 x 40: the program's ":/warning".
QIcon WarningIcon();

/// Moves Window to the middle of the primary screen's free area.
void CenterOnScreen(QWidget *Window);

/// A dialog text from the program's language table, Fallback when Language lacks Key.
QString Text(const QString &Language, const char *Key, const char *Fallback);

/// A caption text for widgets that do not treat "&" as a shortcut marker (labels, group box
/// captions): the language table writes "&&" for one "&".
QString PlainCaption(const QString &Text);

} // namespace DialogStyle
