#pragma once
// The About window; at start-up it doubles as the splash window.
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "base/product.h"

inline constexpr const char* kMakerName = "Brennickware";
inline constexpr const char* kMakerWebAddress = "https://orvalis.example";

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);

    QPushButton* OkButton() { return &okButton_; }
    QLabel* VersionLabel() { return &versionLabel_; }

private:
    QGridLayout layout_{this};
    QLabel picture_{this};
    QLabel productLabel_{this};
    QLabel versionLabel_{this};
    QLabel makerLabel_{this};
    QLabel webLink_{this};
    QLabel mailCaption_{this};
    QLabel mailLink_{this};
    QPushButton okButton_{this};
};

// Shows the window as a splash: no OK button, not modal, painted at once.
void StartSplash(TAboutForm* form);
// Hides the splash window, if one is shown.
void FinishSplash();
