#pragma once
// TIniFile: a settings file of sections in square brackets and key=value
// lines, read and written key by key with the rules of the system's profile
// functions: section and key names are case-insensitive (Windows-1251),
// blanks around keys and values do not count, a value enclosed in a pair of
// double (or single) quotes is read without them. A value is read whole,
// however long: one cut short would be written back cut. Values are written
// as they are given (a caller that needs blanks or quotes at a value's ends
// kept puts it in quotes). The file's bytes are kept as they are (no
// code-page conversion); lines the class does not understand, comments and
// blank lines stay where they are when the file is rewritten.
//
// The file is read once, when the object is made. A missing file, one that
// cannot be read (ReadFailure says why) and anything that is not a regular
// file (a FIFO, a device; never opened) read as empty. Nothing is written
// into anything but a regular file, and never into one that is there but
// could not be read (that would replace what it holds with what this object
// knows). Every Write* updates the text in memory and saves the whole file
// with SaveWholeFile (a temporary file that replaces the old
// one only once it is all written), so that a crash or a full disk never
// leaves a cut-off file. A write that fails raises EIniFileException
// "Unable to write to <file>: <the system's reason>" and leaves both the
// file and the object as they were.
//
// TMemIniFile keeps its writes in memory until UpdateFile, which replaces the
// file once, the same way: a program that saves many keys at once writes the
// file once instead of once per key.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace vcl {

class TStrings;

class EIniFileException : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

class TIniFile {
public:
    explicit TIniFile(const std::string& FileName);

    const std::string& FileName() const { return fileName_; }
    // Why a regular file that is there could not be read (the reader's
    // message; the object then reads as empty): for its owner to tell.
    // Empty when it was read, or is missing, or is no regular file.
    const std::string& ReadFailure() const { return readFailure_; }

    std::string ReadString(const std::string& Section, const std::string& Ident,
                           const std::string& Default) const;
    // Decimal, or hexadecimal with "$" or "0x"; anything else gives Default.
    std::int32_t ReadInteger(const std::string& Section, const std::string& Ident,
                             std::int32_t Default) const;
    // True for any non-zero integer; text that is not a number gives Default.
    bool ReadBool(const std::string& Section, const std::string& Ident, bool Default) const;
    double ReadFloat(const std::string& Section, const std::string& Ident, double Default) const;

    void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
    void WriteInteger(const std::string& Section, const std::string& Ident, std::int32_t Value);
    // "1" or "0".
    void WriteBool(const std::string& Section, const std::string& Ident, bool Value);
    void WriteFloat(const std::string& Section, const std::string& Ident, double Value);

    bool SectionExists(const std::string& Section) const;
    bool ValueExists(const std::string& Section, const std::string& Ident) const;
    // Key names of a section, in file order.
    void ReadSection(const std::string& Section, TStrings& Strings) const;
    void ReadSections(TStrings& Strings) const;
    // "key=value" with the values as ReadString gives them.
    void ReadSectionValues(const std::string& Section, TStrings& Strings) const;
    void EraseSection(const std::string& Section);
    void DeleteKey(const std::string& Section, const std::string& Ident);
    // Writes what was changed since the last time (TMemIniFile; a TIniFile
    // has written every change at once).
    void UpdateFile();

protected:
    // Changes are held in memory until UpdateFile.
    void SetDeferred(bool On) { deferred_ = On; }

private:
    struct TLine {
        std::string text;
        std::string eol;  // "\r\n", "\n", "\r", or "" for a last line without one
    };
    // Line index of the section header, -1 when absent.
    int FindSection(const std::string& Section) const;
    // One past the last line of the section whose header is at `header`.
    int SectionEnd(int header) const;
    // Line index of the key inside the section, -1 when absent.
    int FindKey(int header, const std::string& Ident) const;
    // Replaces the lines, writing them to the file first.
    void Commit(std::vector<TLine> lines);

    // Takes the lines, writing them to the file first unless writes are deferred.
    void Store(std::vector<TLine> lines);

    std::string fileName_;
    std::vector<TLine> lines_;
    bool deferred_ = false;
    std::string readFailure_;  // ReadFailure
    bool dirty_ = false;
};

class TMemIniFile : public TIniFile {
public:
    explicit TMemIniFile(const std::string& FileName) : TIniFile(FileName) { SetDeferred(true); }
};

}  // namespace vcl
