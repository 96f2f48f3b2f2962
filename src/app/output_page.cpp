#include "app/output_page.h"

#include <QFileDialog>

#include "base/language.h"
#include "base/shared_functions.h"
#include "output/site/web_site.h"
#include "platform/special_folders.h"
#include "services/configer.h"

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

    label3_.setObjectName("Label3");
    label3_.setText(QStringLiteral("Kind of catalogue"));
    outputKind_.setObjectName("OutputKindComboBox");
    for (const TOutputKindRow& kind : OutputKinds()) outputKind_.addItem(Tr(kind.Caption));
    label3_.setBuddy(&outputKind_);
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
    grid_.addWidget(&label3_, 0, 0, 1, 2);
    grid_.addWidget(&outputKind_, 1, 0, 1, 2, Qt::AlignLeft);
    grid_.setRowMinimumHeight(2, 6);
    grid_.addWidget(&label2_, 3, 0, 1, 2);
    grid_.addWidget(&placeTo_, 4, 0, 1, 2, Qt::AlignLeft);
    grid_.setRowMinimumHeight(5, 6);
    grid_.addWidget(&label1_, 6, 0, 1, 2);
    grid_.addWidget(&fileName_, 7, 0);
    grid_.addWidget(&select_, 7, 1);
    target_.setObjectName("TargetLabel");
    target_.setWordWrap(true);
    target_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid_.addWidget(&target_, 8, 0, 1, 2, Qt::AlignTop);
    grid_.setRowMinimumHeight(8, 24);
    grid_.setRowStretch(8, 1);
    grid_.addWidget(&openAfter_, 9, 0, 1, 2);
    grid_.setColumnStretch(0, 1);

    RunSaveDialog = &RunChmSaveDialog;
    RunFolderDialog = &RunSiteFolderDialog;

    TConfiger& cfg = Config();
    chmName_ = cfg.ReadString(kSection, "DBFilename");
    if (chmName_.empty()) chmName_ = DocumentsFolder() + "/orvalis.chm";
    siteFolder_ = ConfiguredSiteFolder();
    shownKind_ = ConfiguredOutputKind();
    outputKind_.setCurrentIndex(KindIndex(shownKind_));
    fileName_.setText(QString::fromStdString(NameOf(shownKind_)));
    openAfter_.setChecked(cfg.ReadBool(kSection, "OpenAfterCompil"));
    placeTo_.setCurrentIndex(PlaceIndexFor(cfg.ReadString(kSection, "PlaceTo"), placeTo_.count()));

    connect(&outputKind_, &QComboBox::currentIndexChanged, this, &TTuner::OutputKindChanged);
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

TOutputKind TTuner::OutputKind() const {
    const int index = outputKind_.currentIndex();
    const auto& kinds = OutputKinds();
    return index >= 0 && static_cast<std::size_t>(index) < kinds.size() ? kinds[static_cast<std::size_t>(index)].Kind
                                                                          : TOutputKind::CompiledHelp;
}

int TTuner::KindIndex(TOutputKind kind) {
    const auto& kinds = OutputKinds();
    for (std::size_t i = 0; i < kinds.size(); ++i)
        if (kinds[i].Kind == kind) return static_cast<int>(i);
    return 0;
}

std::string& TTuner::NameOf(TOutputKind kind) { return kind == TOutputKind::WebPages ? siteFolder_ : chmName_; }

void TTuner::KeepEditedName() { NameOf(shownKind_) = fileName_.text().toStdString(); }

void TTuner::OutputKindChanged() {
    KeepEditedName();
    shownKind_ = OutputKind();
    fileName_.setText(QString::fromStdString(NameOf(shownKind_)));
    UpdateState();
}

TDestination TTuner::Destination(const std::vector<std::string>& catalogued) const {
    const int place = PlaceValueFor(placeTo_.currentIndex(), placeTo_.count());
    return OutputKindRowOf(OutputKind()).Resolve(fileName_.text().toStdString(), place, catalogued);
}

void TTuner::UpdateState() {
    const int place = PlaceValueFor(placeTo_.currentIndex(), placeTo_.count());
    const TOutputKindRow& kind = OutputKindRowOf(OutputKind());
    label1_.setText(Tr(kind.NameLabel));
    const std::string target = kind.Target(fileName_.text().toStdString(), place);
    target_.setText(QString::fromStdString(Translate(kind.TargetText, Params({target}))));
    const bool custom = placeTo_.currentIndex() >= 0 && placeTo_.currentIndex() + 1 == placeTo_.count();
    fileName_.setEnabled(custom);
    select_.setEnabled(custom);
}

void TTuner::StoreSettings() {
    TConfiger& cfg = Config();
    KeepEditedName();
    const std::string fixed = WithChmExtension(chmName_);
    if (fixed != chmName_) {
        chmName_ = fixed;
        if (shownKind_ == TOutputKind::CompiledHelp) fileName_.setText(QString::fromStdString(fixed));
    }
    cfg.WriteString(kSection, "DBFilename", fixed);
    cfg.WriteString(kSection, "SiteFolder", siteFolder_);
    cfg.WriteString(kSection, "OutputKind", OutputKindValue(OutputKind()));
    cfg.WriteBool(kSection, "OpenAfterCompil", openAfter_.isChecked());
    cfg.WriteString(kSection, "PlaceTo", std::to_string(PlaceValueFor(placeTo_.currentIndex(), placeTo_.count())));
}

void TTuner::SelectButtonClick() {
    std::string chosen = fileName_.text().toStdString();
    if (OutputKindRowOf(OutputKind()).Folder) {
        if (RunFolderDialog && RunFolderDialog(this, chosen)) fileName_.setText(QString::fromStdString(chosen));
    } else if (RunSaveDialog && RunSaveDialog(this, chosen)) {
        fileName_.setText(QString::fromStdString(WithChmExtension(chosen)));
    }
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

bool RunSiteFolderDialog(QWidget* owner, std::string& folder) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (!folder.empty()) dialog.setDirectory(QString::fromStdString(ExtractFileDir(folder)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    folder = dialog.selectedFiles().constFirst().toStdString();
    return true;
}
