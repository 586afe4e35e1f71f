#pragma once
// A socket notifier (device or network descriptor) whose activation is an
// entry from the loop like any other: what the entry raises reaches the
// loop's error handler, with repeat state of its own.
#include <QSocketNotifier>

#include <memory>
#include <utility>

#include "platform/win/loop_entry.h"

namespace win {

template <class Entry>
std::unique_ptr<QSocketNotifier> MakeGuardedNotifier(qintptr fd, QSocketNotifier::Type type, Entry entry) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, type);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [entry = std::move(entry), failed = LoopEntryState{}]() mutable {
                         RunLoopEntry(failed, entry);
                     });
    return notifier;
}

}  // namespace win
