#include "app/about_form.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include "app/pictures.h"
#include "widgets/translate_form.h"
#include "base/language.h"

namespace {

constexpr int kClientWidth = 420;
constexpr int kClientHeight = 271;
constexpr int kPictureWidth = 120;

QPointer<TAboutForm>& Splash() {
    static QPointer<TAboutForm> splash;
    return splash;
}

QString Link(const QString& target, const QString& text) {
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(target.toHtmlEscaped(), text.toHtmlEscaped());
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutForm");
    // A fixed border and no border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QCoreApplication::applicationName());
    setFixedSize(kClientWidth, kClientHeight);

    picture_.setObjectName("Picture");
    picture_.setPixmap(AboutPicture(kPictureWidth, kClientHeight));
    picture_.setFixedSize(kPictureWidth, kClientHeight);

    productLabel_.setObjectName("ProductLabel");
    productLabel_.setText(QStringLiteral(" ") + QString::fromLatin1(kApplicationTitle));
    QFont product = productLabel_.font();
    product.setPixelSize(22);
    product.setBold(true);
    productLabel_.setFont(product);

    versionLabel_.setObjectName("VersionLabel");
    makerLabel_.setObjectName("MakerLabel");
    makerLabel_.setText(QString::fromLatin1(kMakerName));
    QFont maker = makerLabel_.font();
    maker.setBold(true);
    makerLabel_.setFont(maker);

    webLink_.setObjectName("WebLink");
    webLink_.setText(Link(QString::fromLatin1(kMakerWebAddress), QString::fromLatin1(kMakerWebAddress)));
    webLink_.setOpenExternalLinks(true);
    mailCaption_.setObjectName("MailCaption");
    mailCaption_.setText(QStringLiteral("e-mail"));
    mailLink_.setObjectName("MailLink");
    mailLink_.setText(
        Link(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress), QString::fromLatin1(kSupportAddress)));
    mailLink_.setOpenExternalLinks(true);

    okButton_.setObjectName("OkButton");
    okButton_.setText(QStringLiteral("OK"));
    okButton_.setDefault(true);
    connect(&okButton_, &QPushButton::clicked, this, &QDialog::accept);

    layout_.setContentsMargins(0, 0, 12, 12);
    layout_.setHorizontalSpacing(16);
    layout_.addWidget(&picture_, 0, 0, 8, 1);
    layout_.setRowMinimumHeight(0, 24);
    layout_.addWidget(&productLabel_, 1, 1, 1, 2);
    layout_.addWidget(&versionLabel_, 2, 1, 1, 2);
    layout_.setRowMinimumHeight(3, 24);
    layout_.addWidget(&makerLabel_, 4, 1, 1, 2);
    layout_.addWidget(&webLink_, 5, 1, 1, 2);
    layout_.addWidget(&mailCaption_, 6, 1);
    layout_.addWidget(&mailLink_, 6, 2);
    layout_.addWidget(&okButton_, 7, 2, Qt::AlignRight | Qt::AlignBottom);
    layout_.setRowStretch(7, 1);
    layout_.setColumnStretch(2, 1);

    TranslateForm(this);
    // Built from a translated word, so it is put together after the window translation.
    versionLabel_.setText(QString::fromStdString(" " + Translate("Version") + " " + kProgramVersion + "  "));

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void StartSplash(TAboutForm* form) {
    if (!form) return;
    Splash() = form;
    form->OkButton()->hide();
    form->show();
    form->repaint();
    // Let the window system map and paint it before the slow start-up goes on.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FinishSplash() {
    if (Splash()) Splash()->hide();
}
