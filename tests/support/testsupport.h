#pragma once

#include "link/settingsstore.h"

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
