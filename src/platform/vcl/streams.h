#pragma once
// Streams of bytes: the abstract TStream with the Read/Write/Seek contract of
// the class library, TFileStream over a file descriptor and TMemoryStream
// over a growable block. File names are program text (Windows-1251) and are
// converted for the file system.
//
// Share modes: Linux has no share modes, so a stream opened with
// fmShareExclusive, fmShareDenyWrite or fmShareDenyRead takes an advisory
// lock (exclusive when it may write, shared when it only reads) that other
// streams of this program honour; fmShareDenyNone and fmShareCompat take none.
//
// A stream refused because of such a lock says so: "Cannot open file "<file>".
// It is <InUseText>".
//
// A stream that writes (fmCreate, fmOpenWrite, fmOpenReadWrite) is opened
// without waiting: a FIFO that no program reads is refused ("... It is a pipe
// that no program reads"), and a serial line does not wait for its carrier.
// Once open, a regular file is written as usual; a pipe or a device stays
// without waiting, and its writes wait in slices with the window answering
// until the reader takes nothing for a while (rtl::WriteAll), so that Write
// then returns short. A FIFO is opened for writing only, even
// by fmCreate: opened for both, the stream would count as its own reader and
// its writes would pile up unread. fmCreate empties a regular file only
// once the share lock is taken, so that a file another stream holds is
// refused untouched.
//
// fmRegularOnly (with fmOpenRead) opens nothing but a regular file: anything
// else is refused by its name before it is opened, because opening a FIFO
// waits for a writer (the window would never come back), a device may react
// to being opened (a serial line raises its modem lines) and one such as
// /dev/zero never ends. The file is opened without waiting, in case the name
// was given to a FIFO in between, and what was opened is judged again. The
// refusal is EFOpenError "Cannot read "<file>": it is not a regular file (a
// folder, a device or a pipe)".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vcl {

enum : std::uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmRegularOnly = 0x0100,
    fmCreate = 0xFF00,
};

// Why a share lock refused a stream or a save (after "it is ").
inline constexpr const char* InUseText = "in use by a program that lets no one else write it";

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Read and Write move at most Count bytes and return how many moved.
    virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
    virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
    virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

    // All or nothing: EReadError "Stream read error" / EWriteError "Stream write error".
    void ReadBuffer(void* Buffer, std::int32_t Count);
    void WriteBuffer(const void* Buffer, std::int32_t Count);
    // Copies Count bytes from Source (0: all of Source from its beginning).
    std::int64_t CopyFrom(TStream& Source, std::int64_t Count);

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t NewSize) = 0;
};

class TFileStream : public TStream {
public:
    // Raises EFCreateError "Cannot create file "%s". <reason>" for fmCreate,
    // EFOpenError "Cannot open file "%s". <reason>" otherwise.
    TFileStream(const std::string& AFileName, std::uint16_t Mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    // Raises EWriteError when the file cannot be resized.
    void SetSize(std::int64_t NewSize) override;
    // Raises EWriteError when the data cannot be forced to the disk.
    void Flush();

    const std::string& FileName() const { return fileName_; }
    int Handle() const { return fd_; }

private:
    std::string fileName_;
    int fd_ = -1;
};

class TMemoryStream : public TStream {
public:
    std::int32_t Read(void* Buffer, std::int32_t Count) override;
    std::int32_t Write(const void* Buffer, std::int32_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t NewSize) override;
    void Clear();

    std::byte* Memory() { return data_.data(); }
    const std::byte* Memory() const { return data_.data(); }

    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream);
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);

private:
    std::vector<std::byte> data_;
    std::int64_t position_ = 0;
};

// The text of an operating-system error number, in the program's code page.
std::string SysErrorMessage(int errorCode);

}  // namespace vcl
