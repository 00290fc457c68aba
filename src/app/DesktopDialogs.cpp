#include "DesktopDialogs.h"

#include "HelpViewer.h"

#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/ModalWait.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <utility>

namespace {

QMessageBox::Icon IconFor(platform::TMsgDlgType type) {
    using platform::TMsgDlgType;
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QMessageBox::Warning;
    case TMsgDlgType::mtError:
        return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
        return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
        return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

// Buttons in the order the boxes show them, with the answer each gives.
constexpr std::pair<platform::TMsgDlgBtn, QMessageBox::StandardButton> kButtons[] = {
    {platform::mbYes, QMessageBox::Yes},       {platform::mbNo, QMessageBox::No},
    {platform::mbOK, QMessageBox::Ok},         {platform::mbCancel, QMessageBox::Cancel},
    {platform::mbAbort, QMessageBox::Abort},   {platform::mbRetry, QMessageBox::Retry},
    {platform::mbIgnore, QMessageBox::Ignore}, {platform::mbHelp, QMessageBox::Help},
};

// The caption names the kind of box, as the dialogs' texts expect ("Confirm", "Information").
const char* CaptionFor(platform::TMsgDlgType type) {
    using platform::TMsgDlgType;
    switch (type) {
    case TMsgDlgType::mtWarning:
        return "Warning";
    case TMsgDlgType::mtError:
        return "Error";
    case TMsgDlgType::mtInformation:
        return "Information";
    case TMsgDlgType::mtConfirmation:
        return "Confirm";
    case TMsgDlgType::mtCustom:
        break;
    }
    return kApplicationTitle;
}

int ResultFor(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Yes:
        return platform::mrYes;
    case QMessageBox::No:
        return platform::mrNo;
    case QMessageBox::Ok:
        return platform::mrOk;
    case QMessageBox::Abort:
        return platform::mrAbort;
    case QMessageBox::Retry:
        return platform::mrRetry;
    case QMessageBox::Ignore:
        return platform::mrIgnore;
    default:
        return platform::mrCancel;
    }
}

} // namespace

int ShowMessageBox(const platform::MessageBoxRequest& request) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(CaptionFor(request.type));
    box.setIcon(IconFor(request.type));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(request.text));
    QMessageBox::StandardButtons buttons;
    for (const auto& [ours, qt] : kButtons)
        if (request.buttons & ours) buttons |= qt;
    box.setStandardButtons(buttons ? buttons : QMessageBox::Ok);
    // Without an icon theme the buttons would carry the style's dated stock pictures: words only.
    if (!QIcon::hasThemeIcon("dialog-ok"))
        for (QAbstractButton* button : box.buttons())
            button->setIcon(QIcon());
    for (bool help = false;; help = true) {
        // Help opens once the box is up again, as one of its windows, so that both are usable.
        if (help)
            QTimer::singleShot(0, &box,
                               [&request] { platform::ShowHelpContext(request.helpContext); });
        box.exec();
        const auto clicked = box.standardButton(box.clickedButton());
        if (clicked != QMessageBox::Help) return ResultFor(clicked);
    }
}

void InstallDesktopHandlers() {
    platform::SetMessageBoxHandler(ShowMessageBox);
    platform::SetHelpHandler(ShowHelpPage);
    platform::SetBeepHandler([] { QApplication::beep(); });
    platform::SetErrorReporter([](const std::string& message) {
        platform::MessageDlg(message, platform::TMsgDlgType::mtError, platform::mbOK);
    });
}
