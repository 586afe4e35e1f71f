// The main window's settings file "vostrel.ini" of any bytes: reading it
// applies what it can and falls back on the rest (nothing raises but the
// reading's own refusal of a file it cannot open); the window then saves
// every setting, and a new window that reads that file saves it again to
// the same bytes, unless a value is one the file format documents as not
// coming back (a value written unquoted with blanks or quotes around it, a
// value longer than the read limit). AuxParams lines are left out of the
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
std::string ReadAndSave(const std::string& file, bool& documentedLoss) {
    auto* m = new terminal::TMain(vcl::Application);
    m->ConfigFileName = file;
    int selected = 0;
    bool noTimeBeginPeriod = false;
    m->ReadConfig(selected, noTimeBeginPeriod);
    // RS-485 mode raises the process's priority: a shared machine gets it
    // back at once.
    setpriority(PRIO_PROCESS, 0, StartingNice());
    auto plainLoses = [](const std::string& s) {
        if (s.empty()) return false;
        const bool quoted = s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
        return quoted || s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t';
    };
    documentedLoss = plainLoses(m->RVPnlTimeFormat);
    for (int slot = 1; slot <= 11; ++slot)
        documentedLoss = documentedLoss || plainLoses(m->Profiles[slot].Name) || plainLoses(m->Profiles[slot].PlugPath);
    m->SaveConfig(true);
    vcl::TComponent::Free(m);
    const std::string saved = fuzz_support::ReadFile(file);
    for (std::size_t at = 0; at < saved.size();) {
        std::size_t end = saved.find('\n', at);
        if (end == std::string::npos) end = saved.size();
        const std::size_t eq = saved.find('=', at);
        if (eq < end && end - eq > vcl::TIniFile::MaxValueLength + 2) documentedLoss = true;
        at = end + 1;
    }
    return saved;
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
    bool lossFirst = false, lossSecond = false;
    const std::string first = ReadAndSave(file, lossFirst);
    const std::string second = ReadAndSave(file, lossSecond);
    if (!lossFirst) Check(WithoutAuxParams(second) == WithoutAuxParams(first));
    return 0;
}
