#include "services/placement.h"

#include "services/configer.h"
#include "base/shared_functions.h"

namespace {

TConfiger& ConfigOrApp(TConfiger* config) {
    TConfiger* c = config ? config : AppConfiger();
    if (!c) throw Exception("No configuration is open");
    return *c;
}

bool StoresPosition(TAlign align) { return align == TAlign::None; }

}  // namespace

bool PlacementStoresHeight(TAlign align, const TAnchors& anchors) {
    return ((align == TAlign::None || align == TAlign::Top) && !anchors.Bottom) || align == TAlign::Bottom;
}

bool PlacementStoresWidth(TAlign align, const TAnchors& anchors) {
    return ((align == TAlign::None || align == TAlign::Left) && !anchors.Right) || align == TAlign::Right;
}

std::string ComposePlacementValue(const TPlacementControl& control, TWindowState state) {
    const TAlign align = control.Align();
    const TAnchors anchors = control.Anchors();
    std::string value;
    if (PlacementStoresHeight(align, anchors)) value += std::to_string(control.Height());
    value += ',';
    if (PlacementStoresWidth(align, anchors)) value += std::to_string(control.Width());
    value += ',';
    if (StoresPosition(align))
        value += std::to_string(control.Top()) + "," + std::to_string(control.Left()) + ",";
    else
        value += ",,";
    if (control.IsTopLevel()) value += std::to_string(static_cast<int>(state)) + ",";
    return value;
}

void RestorePlacement(TPlacementControl& control, const std::string& key, TConfiger* config) {
    TConfiger& cfg = ConfigOrApp(config);
    const bool topLevel = control.IsTopLevel();
    if (topLevel) control.SetWindowState(TWindowState::Normal);

    const std::string value = cfg.ReadString(kPlacementSection, key);
    const int height = GetIntField(value, ",", 1, control.Height());
    const int width = GetIntField(value, ",", 2, control.Width());
    const int top = GetIntField(value, ",", 3, control.Top());
    const int left = GetIntField(value, ",", 4, control.Left());
    const int state = GetIntField(value, ",", 5, 0);

    const TAlign align = control.Align();
    const TAnchors anchors = control.Anchors();
    if (PlacementStoresHeight(align, anchors)) control.SetHeight(height);
    if (PlacementStoresWidth(align, anchors)) control.SetWidth(width);
    if (align == TAlign::None) {
        // A control anchored to the far edge follows that edge; its stored
        // position would pull it away from there.
        if (!anchors.Bottom) control.SetTop(top);
        if (!anchors.Right) control.SetLeft(left);
    }
    if (topLevel && state >= 0 && state <= 2) control.SetWindowState(static_cast<TWindowState>(state));

    control.ForEachChild([&](TPlacementControl& child) {
        if (!child.Name().empty()) RestorePlacement(child, key + "." + child.Name(), &cfg);
    });
}

void SavePlacement(TPlacementControl& control, const std::string& key, TConfiger* config) {
    TConfiger& cfg = ConfigOrApp(config);
    TWindowState state = TWindowState::Normal;
    if (control.IsTopLevel()) {
        state = control.WindowState();
        control.PrepareForMeasure();
    }
    const std::string value = ComposePlacementValue(control, state);

    control.ForEachChild([&](TPlacementControl& child) {
        if (!child.Name().empty() && child.Visible()) SavePlacement(child, key + "." + child.Name(), &cfg);
    });
    cfg.WriteString(kPlacementSection, key, value);
    cfg.Ini().SaveFile();
}
