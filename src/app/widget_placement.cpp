#include "app/widget_placement.h"

#include <QBoxLayout>
#include <QLayout>
#include <QWidget>

namespace {

// The layout directly holding widget (searched through nested layouts) and the
// widget's index in it; null when no layout places it.
QLayout* HoldingLayout(QLayout* layout, QWidget* widget, int& index) {
    if (!layout) return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget) {
            index = i;
            return layout;
        }
        if (QLayout* inner = item->layout())
            if (QLayout* found = HoldingLayout(inner, widget, index)) return found;
    }
    return nullptr;
}

bool ItemStretches(QBoxLayout* box, int i, bool vertical) {
    if (box->stretch(i) > 0) return true;
    QLayoutItem* item = box->itemAt(i);
    const Qt::Orientations dirs = item->expandingDirections();
    return vertical ? (dirs & Qt::Vertical) : (dirs & Qt::Horizontal);
}

TAlign AlignOf(const QWidget* w) {
    if (w->isWindow() || !w->parentWidget()) return TAlign::None;
    int index = -1;
    QLayout* layout = HoldingLayout(w->parentWidget()->layout(), const_cast<QWidget*>(w), index);
    if (!layout) return TAlign::None;
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (!box) return TAlign::Client;
    const bool vertical = box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop;
    const bool fixed = vertical ? w->minimumHeight() == w->maximumHeight() : w->minimumWidth() == w->maximumWidth();
    if (!fixed) return TAlign::Client;
    bool beforeStretch = true;
    for (int i = 0; i < index; ++i)
        if (ItemStretches(box, i, vertical)) beforeStretch = false;
    if (box->direction() == QBoxLayout::BottomToTop || box->direction() == QBoxLayout::RightToLeft)
        beforeStretch = !beforeStretch;
    if (vertical) return beforeStretch ? TAlign::Top : TAlign::Bottom;
    return beforeStretch ? TAlign::Left : TAlign::Right;
}

class TWidgetPlacement : public TPlacementControl {
public:
    explicit TWidgetPlacement(QWidget* w) : w_(w) {}

    std::string Name() const override { return w_->objectName().toStdString(); }
    bool IsTopLevel() const override { return w_->isWindow(); }
    TAlign Align() const override { return AlignOf(w_); }
    TAnchors Anchors() const override {
        TAnchors a;
        const QVariant v = w_->property("anchors");
        if (!w_->isWindow() && v.isValid()) {
            const QString s = v.toString();
            a.Left = s.contains('l');
            a.Top = s.contains('t');
            a.Right = s.contains('r');
            a.Bottom = s.contains('b');
        }
        return a;
    }
    bool Visible() const override { return !w_->isHidden(); }

    int Height() const override { return Bounds().height(); }
    int Width() const override { return Bounds().width(); }
    int Top() const override { return Bounds().y(); }
    int Left() const override { return Bounds().x(); }

    void SetHeight(int value) override {
        if (value < 0) return;
        const TAlign align = Align();
        if (align == TAlign::Top || align == TAlign::Bottom)
            w_->setFixedHeight(value);
        else
            w_->resize(w_->width(), value);
    }
    void SetWidth(int value) override {
        if (value < 0) return;
        const TAlign align = Align();
        if (align == TAlign::Left || align == TAlign::Right)
            w_->setFixedWidth(value);
        else
            w_->resize(value, w_->height());
    }
    void SetTop(int value) override { w_->move(w_->isWindow() ? w_->pos().x() : w_->x(), value); }
    void SetLeft(int value) override { w_->move(value, w_->isWindow() ? w_->pos().y() : w_->y()); }

    TWindowState WindowState() const override {
        const Qt::WindowStates s = w_->windowState();
        if (s & Qt::WindowMinimized) return TWindowState::Minimized;
        if (s & Qt::WindowMaximized) return TWindowState::Maximized;
        return TWindowState::Normal;
    }
    void SetWindowState(TWindowState state) override {
        Qt::WindowStates s = w_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
        if (state == TWindowState::Minimized) s |= Qt::WindowMinimized;
        if (state == TWindowState::Maximized) s |= Qt::WindowMaximized;
        w_->setWindowState(s);
    }
    // Qt keeps a window's normal bounds while it is maximised or hidden, so
    // nothing has to be shown or restored to measure them.
    void PrepareForMeasure() override { measureNormal_ = true; }

    void ForEachChild(const std::function<void(TPlacementControl&)>& visit) override {
        const QObjectList children = w_->children();  // a copy: visiting may not change it
        for (QObject* o : children) {
            auto* child = qobject_cast<QWidget*>(o);
            if (!child || child->isWindow() || child->objectName().startsWith("qt_")) continue;  // Qt's own parts
            TWidgetPlacement adapter(child);
            visit(adapter);
        }
    }

private:
    QRect Bounds() const {
        if (!w_->isWindow()) return w_->geometry();
        QRect r(w_->pos(), w_->size());
        if (measureNormal_ && WindowState() != TWindowState::Normal && w_->normalGeometry().isValid()) {
            const QRect normal = w_->normalGeometry();
            const QPoint frame = w_->pos() - w_->geometry().topLeft();
            r = QRect(normal.topLeft() + frame, normal.size());
        }
        return r;
    }

    QWidget* w_;
    bool measureNormal_ = false;
};

}  // namespace

std::unique_ptr<TPlacementControl> WidgetPlacementControl(QWidget* widget) {
    return std::make_unique<TWidgetPlacement>(widget);
}

void RestorePlacement(QWidget* widget, const std::string& key, TConfiger* config) {
    auto control = WidgetPlacementControl(widget);
    RestorePlacement(*control, key, config);
}

void SavePlacement(QWidget* widget, const std::string& key, TConfiger* config) {
    auto control = WidgetPlacementControl(widget);
    SavePlacement(*control, key, config);
}
