#include "platform/vcl/streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/rtl/cp1251.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_writes.h"
#include "platform/rtl/files.h"

namespace vcl {

namespace {
// Read and Write move 32-bit counts; larger blocks go in pieces.
constexpr std::int64_t kChunk = 1 << 30;
}  // namespace

std::string SysErrorMessage(int errorCode) {
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not be in buf.
    const char* text = strerror_r(errorCode, buf, sizeof buf);
    return rtl::Utf8ToAnsi(text ? text : "Unknown error");
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count) throw rtl::EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
    if (Count != 0 && Write(Buffer, Count) != Count) throw rtl::EWriteError("Stream write error");
}

std::int64_t TStream::Size() {
    const std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    std::vector<std::byte> buf(static_cast<size_t>(std::min<std::int64_t>(Count, 1 << 16)));
    std::int64_t left = Count;
    while (left > 0) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buf.size())));
        Source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return Count;
}

TFileStream::TFileStream(const std::string& AFileName, std::uint16_t Mode) : fileName_(AFileName) {
    const bool create = (Mode & fmCreate) == fmCreate;
    const bool regularOnly = !create && (Mode & fmRegularOnly) != 0;
    int access = create ? O_RDWR | O_CREAT
                        : ((Mode & 3) == fmOpenWrite       ? O_WRONLY
                           : (Mode & 3) == fmOpenReadWrite ? O_RDWR
                                                           : O_RDONLY);
    const bool writes = (access & (O_WRONLY | O_RDWR)) != 0;
    const int share = Mode & 0xF0;
    const std::string sysName = rtl::SysPath(AFileName);
    auto fail = [&](const std::string& reason) {
        if (create) throw rtl::EFCreateError("Cannot create file \"" + AFileName + "\". " + reason);
        throw rtl::EFOpenError("Cannot open file \"" + AFileName + "\". " + reason);
    };
    auto failed = [&](int err) { fail(SysErrorMessage(err)); };
    auto notRegular = [&] {
        throw rtl::EFOpenError("Cannot read \"" + AFileName +
                               "\": it is not a regular file (a folder, a device or a pipe)");
    };
    // Given up after opening: the descriptor goes first.
    auto drop = [&] {
        ::close(fd_);
        fd_ = -1;
    };
    struct stat st {};
    if (regularOnly) {
        if (::stat(sysName.c_str(), &st) != 0) failed(errno);
        if (!S_ISREG(st.st_mode)) notRegular();
        access |= O_NONBLOCK;
    }
    const bool fifo = writes && ::stat(sysName.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    if (fifo) access = (access & ~O_RDWR) | O_WRONLY;
    if (writes) access |= O_NONBLOCK;
    do {
        fd_ = ::open(sysName.c_str(), access | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0 && errno == ENXIO && fifo) fail("It is a pipe that no program reads");
    if (fd_ < 0) failed(errno);
    const bool statted = ::fstat(fd_, &st) == 0;
    if (regularOnly && !(statted && S_ISREG(st.st_mode))) {
        drop();
        notRegular();
    }
    if (statted && S_ISDIR(st.st_mode)) {
        // A folder opens for reading here, but it is no file to stream.
        drop();
        failed(EISDIR);
    }
    if (share == fmShareExclusive || share == fmShareDenyWrite || share == fmShareDenyRead) {
        if (::flock(fd_, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            const int err = errno;
            drop();
            if (err == EWOULDBLOCK) fail(std::string("It is ") + InUseText);
            failed(err);
        }
    }
    // Emptied only now that the lock is ours: a file held by another stream
    // is refused as it was. A pipe or a device has nothing to empty.
    if (create && statted && S_ISREG(st.st_mode) && ::ftruncate(fd_, 0) != 0) {
        const int err = errno;
        drop();
        failed(err);
    }
    // A pipe or a device stays without waiting: its writes wait in slices
    // with the window answering, and give up on a reader that takes nothing
    // (rtl::WriteAll). A regular file is written as usual.
    if (writes && statted && S_ISREG(st.st_mode)) {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            const int err = errno;
            drop();
            failed(err);
        }
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock too
}

std::int32_t TFileStream::Read(void* Buffer, std::int32_t Count) {
    std::int32_t done = 0;
    auto* p = static_cast<char*>(Buffer);
    while (done < Count) {
        const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::int32_t>(n);
    }
    return done;
}

std::int32_t TFileStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    std::size_t done = 0;
    rtl::WriteAll(fd_, {static_cast<const char*>(Buffer), static_cast<std::size_t>(Count)}, {}, &done);
    return static_cast<std::int32_t>(done);
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    const int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    return ::lseek(fd_, static_cast<off_t>(Offset), whence);
}

void TFileStream::SetSize(std::int64_t NewSize) {
    if (::ftruncate(fd_, static_cast<off_t>(NewSize)) != 0)
        throw rtl::EWriteError("Stream write error");
    if (Position() > NewSize) SetPosition(NewSize);
}

void TFileStream::Flush() {
    if (::fsync(fd_) != 0) throw rtl::EWriteError("Stream write error");
}

std::int32_t TMemoryStream::Read(void* Buffer, std::int32_t Count) {
    const std::int64_t size = Size();
    if (Count <= 0 || position_ >= size) return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(Count, size - position_));
    std::memcpy(Buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* Buffer, std::int32_t Count) {
    if (Count <= 0) return 0;
    const std::int64_t end = position_ + Count;
    if (end > Size()) data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, Buffer, static_cast<size_t>(Count));
    position_ = end;
    return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    const std::int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                              : Origin == TSeekOrigin::soCurrent ? position_
                                                                 : Size();
    // A position past the end is allowed (a later write fills the gap with zeros).
    position_ = std::max<std::int64_t>(0, base + Offset);
    return position_;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
    data_.resize(static_cast<size_t>(std::max<std::int64_t>(NewSize, 0)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
    Stream.SetPosition(0);
    const std::int64_t size = Stream.Size();
    SetSize(size);
    for (std::int64_t done = 0; done < size;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(size - done, kChunk));
        Stream.ReadBuffer(data_.data() + done, n);
        done += n;
    }
    position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream) {
    const std::int64_t size = Size();
    for (std::int64_t done = 0; done < size;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(size - done, kChunk));
        Stream.WriteBuffer(data_.data() + done, n);
        done += n;
    }
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
    TFileStream file(FileName, fmCreate);
    SaveToStream(file);
}

}  // namespace vcl
