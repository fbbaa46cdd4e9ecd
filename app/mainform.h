#pragma once

#include <QWidget>

class USBStuff;

// The program's one window. load() is its start-up step, run once before it is first shown.
class MainForm final : public QWidget
{
    Q_OBJECT

public:
    enum class LoadResult { Ready, Cancelled, Failed };

    explicit MainForm(USBStuff &usb, QWidget *parent = nullptr);
    ~MainForm() override;

    // Titles the window, brings the board up (offering Retry until it is up or the user gives
    // up) and puts the editor and the readback into their starting state.
    LoadResult load();

private:
    bool askToRetryBringUp();
    void showStartupFailure(const QString &reason);

    USBStuff &m_usb;
};
