#pragma once
// Window translation: titles, captions and tool tips of a window and of every
// widget it owns pass through Translate. Texts shown as data (edit contents,
// list items) are left alone, and so are texts longer than 100 characters.
class QWidget;
class QString;

void TranslateForm(QWidget* window);
// One text as window translation treats it: empty and over-long texts stay.
QString TranslateCaption(const QString& text);
