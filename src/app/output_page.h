#pragma once
// The second wizard page: where the finished catalogue goes, under which file
// name for a custom place, and whether to open it when it is ready. The three
// settings live in "Session" so the build run can read the place from there.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "chm/destination.h"

class TTuner : public QWidget {
    Q_OBJECT
public:
    // Loads "Session" / "DBFilename", "OpenAfterCompil" and "PlaceTo" into the controls.
    explicit TTuner(QWidget* parent = nullptr);

    // Puts ".chm" on a file name without it and writes the three settings.
    void StoreSettings();
    // The file the chosen place and name resolve to, checked as it stands now.
    TDestination Destination() const;
    // The file name controls are for the custom place only.
    void UpdateState();
    // Save dialog for the file name; stores the settings whether or not a
    // file was chosen.
    void SelectButtonClick();

    // Shows the save dialog; true with the chosen name when confirmed.
    // Replaceable so the page can be driven without a real dialog.
    std::function<bool(QWidget* owner, std::string& fileName)> RunSaveDialog;

    // What a "PlaceTo" value selects (-1: nothing) and what a selection stores.
    static int PlaceIndexFor(const std::string& stored, int itemCount);
    static int PlaceValueFor(int selectedIndex, int itemCount);

    QComboBox* PlaceToComboBox() { return &placeTo_; }
    QLineEdit* FilenameEdit() { return &fileName_; }
    QPushButton* SelectButton() { return &select_; }
    QCheckBox* OpenAfterCompil() { return &openAfter_; }
    // Names the file the run will write, whatever the place.
    QLabel* TargetLabel() { return &target_; }

private:
    QGridLayout grid_{this};
    QLabel label2_{this};
    QComboBox placeTo_{this};
    QLabel label1_{this};
    QLineEdit fileName_{this};
    QPushButton select_{this};
    QCheckBox openAfter_{this};
    QLabel target_{this};
};

// The save dialog the page shows: "CHM files(*.chm)", default suffix "chm".
bool RunChmSaveDialog(QWidget* owner, std::string& fileName);
