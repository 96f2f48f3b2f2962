#include "widgets/translate_form.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "base/language.h"

namespace {

constexpr qsizetype kMaxTranslatedLength = 100;

void TranslateWidget(QWidget* w) {
    // The order of the original property names: Title, Hint, Caption.
    w->setToolTip(TranslateCaption(w->toolTip()));
    if (w->isWindow()) w->setWindowTitle(TranslateCaption(w->windowTitle()));
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(TranslateCaption(button->text()));
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(TranslateCaption(label->text()));
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(TranslateCaption(group->title()));
}

void TranslateTree(QWidget* w) {
    TranslateWidget(w);
    const QObjectList& children = w->children();
    // Owned widgets, the last one first, each with everything it owns.
    for (auto it = children.crbegin(); it != children.crend(); ++it)
        if (auto* child = qobject_cast<QWidget*>(*it)) TranslateTree(child);
}

}  // namespace

QString TranslateCaption(const QString& text) {
    const qsizetype length = text.toUcs4().size();
    if (length < 1 || length > kMaxTranslatedLength) return text;
    return QString::fromStdString(Translate(text.toStdString()));
}

void TranslateForm(QWidget* window) {
    if (window) TranslateTree(window);
}
