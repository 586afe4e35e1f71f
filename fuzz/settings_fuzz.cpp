// The main window's settings file "vostrel.ini" of any bytes: reading it
// applies what it can and falls back on the rest (nothing raises but the
// reading's own refusal of a file it cannot open); the window then saves
// every setting, and a new window that reads that file saves it again to
// the same bytes: every value comes back as it was written, whatever its
// ends and its length. AuxParams lines are left out of the
// comparison: an empty one is not written, so a slot keeps the foreign-port
// settings it had, and the named profiles moving to the first slots take
// those of their new slot along.
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/vcl/component.h"
#include "platform/vcl/forms.h"
#include "platform/vcl/ini_files.h"
#include "terminal/main_form.h"

namespace {

using fuzz_support::Check;

int StartingNice() {
    static const int nice = getpriority(PRIO_PROCESS, 0);
    return nice;
}

// Reads the file into a new window and saves it again; the text saved.
std::string ReadAndSave(const std::string& file) {
    auto* m = new terminal::TMain(vcl::Application);
    m->ConfigFileName = file;
    int selected = 0;
    bool noTimeBeginPeriod = false;
    m->ReadConfig(selected, noTimeBeginPeriod);
    // RS-485 mode raises the process's priority: a shared machine gets it
    // back at once.
    setpriority(PRIO_PROCESS, 0, StartingNice());
    m->SaveConfig(true);
    vcl::TComponent::Free(m);
    return fuzz_support::ReadFile(file);
}

std::string WithoutAuxParams(const std::string& text) {
    std::string kept;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(at, 10, "AuxParams=") != 0) kept.append(text, at, end - at);
        at = end;
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StartingNice();
    fuzz_support::QuietApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzz_support::File("vostrel.ini");
    fuzz_support::WriteFile(file, fuzz_support::Bytes(data, size));
    const std::string first = ReadAndSave(file);
    const std::string second = ReadAndSave(file);
    Check(WithoutAuxParams(second) == WithoutAuxParams(first));
    return 0;
}
