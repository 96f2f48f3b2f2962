#pragma once
// Window placement: the size, position and state of a window and of its
// named inner controls, kept in "SizeAndPos" between runs.
//
// The rules work on an abstract control so they can be used (and tested)
// without a widget toolkit; the GUI supplies an adapter per widget.
#include <functional>
#include <string>

class TConfiger;

// How a control is laid out inside its parent.
enum class TAlign { None, Top, Bottom, Left, Right, Client };
enum class TWindowState { Normal = 0, Minimized = 1, Maximized = 2 };

struct TAnchors {
    bool Left = true, Top = true, Right = false, Bottom = false;
};

class TPlacementControl {
public:
    virtual ~TPlacementControl() = default;

    virtual std::string Name() const = 0;
    virtual bool IsTopLevel() const = 0;
    virtual TAlign Align() const = 0;
    virtual TAnchors Anchors() const = 0;
    virtual bool Visible() const = 0;

    virtual int Height() const = 0;
    virtual int Width() const = 0;
    virtual int Top() const = 0;
    virtual int Left() const = 0;
    virtual void SetHeight(int value) = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetTop(int value) = 0;
    virtual void SetLeft(int value) = 0;

    // Top-level windows only.
    virtual TWindowState WindowState() const = 0;
    virtual void SetWindowState(TWindowState state) = 0;
    // Makes Height/Width/Top/Left report the bounds the window has when shown
    // normally, whatever its state or visibility (called before measuring).
    virtual void PrepareForMeasure() = 0;

    // Visits the direct children that take part (windowed controls), in order.
    virtual void ForEachChild(const std::function<void(TPlacementControl&)>& visit) = 0;
};

// Which fields a control of this alignment and anchoring keeps.
bool PlacementStoresHeight(TAlign align, const TAnchors& anchors);
bool PlacementStoresWidth(TAlign align, const TAnchors& anchors);

// The stored value of one control: "height,width,top,left,state," with the
// fields that do not apply left empty (their commas stay).
std::string ComposePlacementValue(const TPlacementControl& control, TWindowState state);

// Applies "SizeAndPos" / key to control and, recursively, to its children
// (key + "." + child name). config: null means AppConfiger().
void RestorePlacement(TPlacementControl& control, const std::string& key, TConfiger* config = nullptr);
// Stores control and its visible children (children first) and writes the
// configuration file at once. config: null means AppConfiger().
void SavePlacement(TPlacementControl& control, const std::string& key, TConfiger* config = nullptr);

inline constexpr const char* kPlacementSection = "SizeAndPos";
