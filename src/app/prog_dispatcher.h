#pragma once
// Connects the main window to the application shell: sets the wizard up when
// the program starts and saves its state once the window has closed.
#include <QObject>

class TMainForm;

class TProgDispatcher : public QObject {
    Q_OBJECT
public:
    explicit TProgDispatcher(TMainForm* mainForm, QObject* parent = nullptr);
    ~TProgDispatcher() override;

    // Becomes the global dispatcher and sets the wizard up.
    void Start();
    void CloseQuery(QObject* sender, bool& canClose);
    // Saves the main window's placement, then the session; once only.
    void Finish();

private:
    TMainForm* mainForm_;
    bool finished_ = false;
};

// The program's dispatcher while it runs; null before Start.
TProgDispatcher* ProgDispatcher();
