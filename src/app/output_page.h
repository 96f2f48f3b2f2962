#pragma once
// The second wizard page: whether the catalogue is a compiled help file or a
// folder of web pages, where it goes, under which file or folder name for a
// custom place, and whether to open it when it is ready. The settings live in
// "Session" so the build run can read the place from there.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "output/destination.h"
#include "run/build_run.h"

class TTuner : public QWidget {
    Q_OBJECT
public:
    // Loads "Session" / "OutputKind", "DBFilename", "SiteFolder",
    // "OpenAfterCompil" and "PlaceTo" into the controls.
    explicit TTuner(QWidget* parent = nullptr);

    // Puts ".chm" on a file name without it and writes the settings.
    void StoreSettings();
    // What the run makes.
    TOutputKind OutputKind() const;
    // The file (or site folder) the chosen place and name resolve to,
    // checked as it stands now.
    // Where the run writes, checked against the folders being catalogued.
    TDestination Destination(const std::vector<std::string>& catalogued = {}) const;
    // The name controls are for the custom place only; they show the file
    // name or the site folder, whichever the kind of catalogue needs.
    void UpdateState();
    // Save dialog for the file name, or a folder dialog for web pages;
    // stores the settings whether or not anything was chosen.
    void SelectButtonClick();

    // Show the dialogs; true with the chosen name when confirmed.
    // Replaceable so the page can be driven without a real dialog.
    std::function<bool(QWidget* owner, std::string& fileName)> RunSaveDialog;
    std::function<bool(QWidget* owner, std::string& folder)> RunFolderDialog;

    // What a "PlaceTo" value selects (-1: nothing) and what a selection stores.
    static int PlaceIndexFor(const std::string& stored, int itemCount);
    static int PlaceValueFor(int selectedIndex, int itemCount);

    QComboBox* OutputKindComboBox() { return &outputKind_; }
    QComboBox* PlaceToComboBox() { return &placeTo_; }
    QLineEdit* FilenameEdit() { return &fileName_; }
    QPushButton* SelectButton() { return &select_; }
    QCheckBox* OpenAfterCompil() { return &openAfter_; }
    QLabel* FilenameLabel() { return &label1_; }
    // Names the file or folder the run will write, whatever the place.
    QLabel* TargetLabel() { return &target_; }

private:
    void OutputKindChanged();
    // The name edit's text belongs to the kind shown until now.
    void KeepEditedName();

    QGridLayout grid_{this};
    QLabel label3_{this};
    QComboBox outputKind_{this};
    QLabel label2_{this};
    QComboBox placeTo_{this};
    QLabel label1_{this};
    QLineEdit fileName_{this};
    QPushButton select_{this};
    QCheckBox openAfter_{this};
    QLabel target_{this};
    // The list position of a kind, and the name kept for it.
    static int KindIndex(TOutputKind kind);
    std::string& NameOf(TOutputKind kind);

    std::string chmName_;
    std::string siteFolder_;
    TOutputKind shownKind_ = TOutputKind::CompiledHelp;
};

// The save dialog the page shows: "CHM files(*.chm)", default suffix "chm".
bool RunChmSaveDialog(QWidget* owner, std::string& fileName);
// The folder dialog for a site folder.
bool RunSiteFolderDialog(QWidget* owner, std::string& folder);
