#pragma once

#include "update/UpdateMerge.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QGroupBox;
class TFtpClient;
class TkelLog;

// The spammers-list update window: fetches spamupd.txt from the update server by FTP, or
// takes a text file from disk, hands it to the merge and closes. Shown without waiting; it
// deletes itself when it closes, after OnClosed has run.
class TfrmFtp final : public QDialog, private update::TUpdateView {
  public:
    TfrmFtp(QWidget* owner, TkelLog& log);
    ~TfrmFtp() override;

    // The main window enables its menus again and clears Busy here.
    std::function<void()> OnClosed;

    update::TUpdateSource UpdateSource() const { return updateSource_; }
    TFtpClient& FtpClient() { return *ftpClient_; }
    // Host and port of the update server, from the settings.
    const std::string& UpdateHost() const { return host_; }

    void RadioGroup1Click(int index);
    void btnStartClick();
    void btnCancelClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void BuildWindow();
    void WireFtpClient();
    // Fetches the update file; true when spamupd.txt now holds the complete download.
    bool Download();
    void Merge();
    void ShowFtpState();
    void Log(const std::string& text);

    // update::TUpdateView, for the merge.
    void SetActivity(const std::string& text) override;
    void StartProgress(int max) override;
    void StepProgress() override;
    void SetBusyCursor(bool busy) override;
    void EnableStartAndCancel() override;
    bool Confirm(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;

    TkelLog& log_;
    std::unique_ptr<TFtpClient> ftpClient_;
    std::string host_;
    std::string updatePath_;
    update::TUpdateSource updateSource_ = update::usLocalFile;
    bool abortRequested_ = false;
    bool running_ = false;    // Start's sequence is under way
    bool closeAsked_ = false; // the close box was used during it
    bool busyCursor_ = false;

    QGroupBox* radioGroup_ = nullptr;
    QButtonGroup* sources_ = nullptr;
    QLineEdit* febLocalFile_ = nullptr;
    QGroupBox* groupBox2_ = nullptr;
    QLabel* lblActivity_ = nullptr;
    QProgressBar* pbUpdate_ = nullptr;
    QPushButton* btnStart_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* btnHelp_ = nullptr;
};
