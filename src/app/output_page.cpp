#include "app/output_page.h"

#include <QFileDialog>

#include "platform/special_folders.h"
#include "services/configer.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

constexpr const char* kSection = "Session";

TConfiger& Config() {
    TConfiger* c = AppConfiger();
    if (!c) throw Exception("No configuration is open");
    return *c;
}

QString Tr(const char* text) { return QString::fromStdString(Translate(text)); }

}  // namespace

TTuner::TTuner(QWidget* parent) : QWidget(parent) {
    setObjectName("Tuner");

    label2_.setObjectName("Label2");
    label2_.setText(QStringLiteral("Where to place database"));
    placeTo_.setObjectName("PlaceToComboBox");
    // Items are data to window translation; they are translated here.
    placeTo_.addItems({Tr("Place to the desktop"), Tr("Place to the 'My documents'"),
                       Tr("Place to the 'Quick launch'-toolbar"), Tr("Place to the custom location")});
    placeTo_.setMinimumWidth(293);
    label1_.setObjectName("Label1");
    label1_.setText(QStringLiteral("Filename for database"));
    fileName_.setObjectName("FilenameEdit");
    select_.setObjectName("SelectButton");
    select_.setText(QStringLiteral("&Select"));
    select_.setMinimumWidth(75);
    openAfter_.setObjectName("OpenAfterCompil");
    openAfter_.setText(QStringLiteral("Open database after compilation"));
    label2_.setBuddy(&placeTo_);
    label1_.setBuddy(&fileName_);

    // Design positions: labels at 12 and 52, fields at 28 and 68, the check
    // box well below at 172; the file name stretches, Select keeps right.
    grid_.setContentsMargins(8, 12, 8, 8);
    grid_.setHorizontalSpacing(3);
    grid_.setVerticalSpacing(2);
    grid_.addWidget(&label2_, 0, 0, 1, 2);
    grid_.addWidget(&placeTo_, 1, 0, 1, 2, Qt::AlignLeft);
    grid_.setRowMinimumHeight(2, 6);
    grid_.addWidget(&label1_, 3, 0, 1, 2);
    grid_.addWidget(&fileName_, 4, 0);
    grid_.addWidget(&select_, 4, 1);
    target_.setObjectName("TargetLabel");
    target_.setWordWrap(true);
    target_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid_.addWidget(&target_, 5, 0, 1, 2, Qt::AlignTop);
    grid_.setRowMinimumHeight(5, 24);
    grid_.setRowStretch(5, 1);
    grid_.addWidget(&openAfter_, 6, 0, 1, 2);
    grid_.setColumnStretch(0, 1);

    RunSaveDialog = &RunChmSaveDialog;

    TConfiger& cfg = Config();
    fileName_.setText(QString::fromStdString(cfg.ReadString(kSection, "DBFilename")));
    if (fileName_.text().isEmpty()) fileName_.setText(QString::fromStdString(DocumentsFolder() + "/orvalis.chm"));
    openAfter_.setChecked(cfg.ReadBool(kSection, "OpenAfterCompil"));
    placeTo_.setCurrentIndex(PlaceIndexFor(cfg.ReadString(kSection, "PlaceTo"), placeTo_.count()));

    connect(&placeTo_, &QComboBox::currentIndexChanged, this, &TTuner::UpdateState);
    connect(&fileName_, &QLineEdit::textChanged, this, &TTuner::UpdateState);
    connect(&select_, &QPushButton::clicked, this, &TTuner::SelectButtonClick);
    UpdateState();
}

int TTuner::PlaceIndexFor(const std::string& stored, int itemCount) {
    const int value = StrToIntDef(stored, 1);
    if (value <= 0) return itemCount - 1;
    if (value > itemCount) return -1;
    return value - 1;
}

int TTuner::PlaceValueFor(int selectedIndex, int itemCount) {
    if (selectedIndex < 0 || selectedIndex + 1 == itemCount) return 0;
    return selectedIndex + 1;
}

TDestination TTuner::Destination() const {
    return ResolveDestination(WithChmExtension(fileName_.text().toStdString()),
                              PlaceValueFor(placeTo_.currentIndex(), placeTo_.count()));
}

void TTuner::UpdateState() {
    const std::string target = DatabaseDestination(WithChmExtension(fileName_.text().toStdString()),
                                                   PlaceValueFor(placeTo_.currentIndex(), placeTo_.count()));
    target_.setText(QString::fromStdString(Translate("The catalogue will be written to: $1", Params({target}))));
    const bool custom = placeTo_.currentIndex() >= 0 && placeTo_.currentIndex() + 1 == placeTo_.count();
    fileName_.setEnabled(custom);
    select_.setEnabled(custom);
}

void TTuner::StoreSettings() {
    const std::string name = fileName_.text().toStdString();
    const std::string fixed = WithChmExtension(name);
    if (fixed != name) fileName_.setText(QString::fromStdString(fixed));
    TConfiger& cfg = Config();
    cfg.WriteString(kSection, "DBFilename", fixed);
    cfg.WriteBool(kSection, "OpenAfterCompil", openAfter_.isChecked());
    cfg.WriteString(kSection, "PlaceTo", std::to_string(PlaceValueFor(placeTo_.currentIndex(), placeTo_.count())));
}

void TTuner::SelectButtonClick() {
    std::string chosen = fileName_.text().toStdString();
    if (RunSaveDialog && RunSaveDialog(this, chosen))
        fileName_.setText(QString::fromStdString(WithChmExtension(chosen)));
    StoreSettings();
}

bool RunChmSaveDialog(QWidget* owner, std::string& fileName) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromStdString(Translate("CHM files(*.chm)")));
    dialog.setDefaultSuffix(QStringLiteral("chm"));
    // Start where the current name points, so the user sees what is chosen now.
    if (!fileName.empty()) dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    fileName = dialog.selectedFiles().constFirst().toStdString();
    return true;
}
