#pragma once
// Window placement for Qt widgets.
//
// How Qt layout maps onto the placement rules' alignment and anchoring:
// - a window is not aligned and anchored left and top: all four bounds and its
//   state are kept; bounds are the frame position and the client size;
// - a widget placed by a box layout with a fixed height (vertical box) or a
//   fixed width (horizontal box) is aligned to the top/left edge when it comes
//   before the layout's first stretching item and to the bottom/right edge
//   otherwise: only that fixed size is kept and is restored as a fixed size;
// - any other widget managed by a layout fills the room the layout gives it,
//   which is "aligned to the client area": nothing is kept;
// - a widget placed by hand (no layout) is not aligned; it is anchored left and
//   top unless its "anchors" property (letters l, t, r, b) says otherwise,
//   which the code that moves it on resize sets.
#include <memory>
#include <string>

#include "services/placement.h"

class QWidget;
class TConfiger;

std::unique_ptr<TPlacementControl> WidgetPlacementControl(QWidget* widget);

// The placement operations for a widget; key is normally its object name.
void RestorePlacement(QWidget* widget, const std::string& key, TConfiger* config = nullptr);
void SavePlacement(QWidget* widget, const std::string& key, TConfiger* config = nullptr);
