#pragma once

#include "checks/operatorpanel.h"
#include "link/settingsstore.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A settings store in a temporary folder: tests never touch the user's own.
struct TempStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;

    TempStore() : store(std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("LINKPROBE.conf")))) {}
    SettingsStore &operator*() { return *store; }
    SettingsStore *operator->() { return store.get(); }
    QString path() const { return dir.filePath(QStringLiteral("LINKPROBE.conf")); }
};

// An operator panel that remembers every line and the buttons' states.
class RecordingPanel : public OperatorPanel
{
public:
    void AddMessage(const QString &text) override { lines << text; }
    void setButtonEnabled(Button button, bool enabled) override
    {
        (button == Button::StartTest ? startTestEnabled : blockCheckEnabled) = enabled;
    }
    int blockListIndex() const override { return listIndex; }

    QStringList lines;
    bool startTestEnabled = true;
    bool blockCheckEnabled = true;
    int listIndex = 0;
};
