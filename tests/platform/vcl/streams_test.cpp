#include "platform/vcl/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/rtl/exceptions.h"
#include "support/fifo.h"
#include "support/temp_dir.h"

using namespace vcl;

using test_support::TempDir;

TEST(streams, file_stream_creates_reads_writes_and_seeks) {
    TempDir dir;
    const std::string name = dir.path() + "/f.bin";
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("hello world", 11);
        EXPECT_EQ(f.Position(), 11);
        EXPECT_EQ(f.Size(), 11);
        f.Seek(6, TSeekOrigin::soBeginning);
        f.WriteBuffer("WORLD", 5);
        f.SetSize(8);
        EXPECT_EQ(f.Size(), 8);
        EXPECT_EQ(f.Position(), 8);
    }
    TFileStream r(name, fmOpenRead);
    char buf[16] = {};
    EXPECT_EQ(r.Read(buf, sizeof buf), 8);  // a short read returns what there is
    EXPECT_EQ(std::string(buf, 8), "hello WO");
    r.SetPosition(0);
    EXPECT_THROW(r.ReadBuffer(buf, 9), rtl::EReadError);
    EXPECT_EQ(r.Write("x", 1), 0);  // opened for reading only
    EXPECT_THROW(r.WriteBuffer("x", 1), rtl::EWriteError);
    // an existing file is truncated by fmCreate
    { TFileStream again(name, fmCreate); }
    EXPECT_EQ(TFileStream(name, fmOpenRead).Size(), 0);
}

TEST(streams, open_and_create_errors_name_the_file_and_the_reason) {
    TempDir dir;
    try {
        TFileStream f(dir.path() + "/missing.txt", fmOpenRead);
        FAIL();
    } catch (const rtl::EFOpenError& e) {
        EXPECT_EQ(e.Message, "Cannot open file \"" + dir.path() + "/missing.txt\". No such file or directory");
    }
    EXPECT_THROW(TFileStream(dir.path(), fmOpenRead), rtl::EFOpenError);  // a folder
    try {
        TFileStream f(dir.path() + "/no/dir.txt", fmCreate);
        FAIL();
    } catch (const rtl::EFCreateError& e) {
        EXPECT_EQ(e.Message, "Cannot create file \"" + dir.path() + "/no/dir.txt\". No such file or directory");
    }
}

TEST(streams, share_modes_keep_a_second_writer_out_but_let_readers_in) {
    TempDir dir;
    const std::string name = dir.path() + "/out.txt";
    TFileStream writer(name, fmCreate | fmShareDenyWrite);
    writer.WriteBuffer("abc", 3);
    EXPECT_THROW(TFileStream(name, fmOpenWrite | fmShareDenyWrite), rtl::EFOpenError);
    TFileStream reader(name, fmOpenRead | fmShareDenyNone);
    char buf[3];
    reader.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(streams, a_second_writer_is_refused_before_it_empties_the_file) {
    TempDir dir;
    const std::string name = dir.path() + "/capture.bin";
    TFileStream first(name, fmCreate | fmShareDenyWrite);
    first.WriteBuffer("first capture", 13);
    // A second one made the same way, as a second program's output would be:
    // refused by the lock, with the file exactly as the first one left it.
    try {
        TFileStream second(name, fmCreate | fmShareDenyWrite);
        ADD_FAILURE() << "a second writer got the file";
    } catch (const rtl::EFCreateError& e) {
        EXPECT_EQ(e.Message, "Cannot create file \"" + name +
                                 "\". It is in use by a program that lets no one else write it");
    }
    first.WriteBuffer(", more", 6);
    TFileStream reader(name, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(reader.Size(), 19);
    char buf[19];
    reader.ReadBuffer(buf, 19);
    EXPECT_EQ(std::string(buf, 19), "first capture, more") << "the file lost its start";
}

TEST(streams, a_writer_never_waits_on_a_fifo_and_writes_only_to_its_reader) {
    TempDir dir;
    // No program reads it: refused at once, by what it is.
    const test_support::Fifo unread(dir.path() + "/unread");
    ASSERT_TRUE(unread.Made());
    for (const std::uint16_t mode : {std::uint16_t(fmCreate), std::uint16_t(fmOpenWrite | fmShareDenyWrite)}) {
        try {
            TFileStream f(unread.path(), mode);
            ADD_FAILURE() << "a FIFO nobody reads was opened for writing";
        } catch (const rtl::Exception& e) {
            EXPECT_NE(e.Message.find("\". It is a pipe that no program reads"), std::string::npos) << e.Message;
        }
    }
    EXPECT_FALSE(unread.Rescued()) << "the open waited for a reader";
    EXPECT_TRUE(unread.StillFifo());

    // With a reader there: opened, locked, nothing to empty, and what is
    // written reaches the reader (the stream is no reader of its own).
    const test_support::Fifo pipe(dir.path() + "/pipe");
    ASSERT_TRUE(pipe.Made());
    const int reader = open(pipe.path().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        TFileStream f(pipe.path(), fmCreate | fmShareDenyWrite);
        f.WriteBuffer("through", 7);
    }
    char buf[16];
    EXPECT_EQ(read(reader, buf, sizeof buf), 7);
    close(reader);
    EXPECT_FALSE(pipe.Rescued());
}

TEST(streams, memory_stream_grows_and_copies) {
    TMemoryStream m;
    m.WriteBuffer("abcdef", 6);
    m.Seek(-2, TSeekOrigin::soEnd);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, 2), "ef");
    m.Seek(8, TSeekOrigin::soBeginning);  // past the end: the gap reads as zeros
    m.WriteBuffer("z", 1);
    EXPECT_EQ(m.Size(), 9);
    EXPECT_EQ(std::memcmp(m.Memory(), "abcdef\0\0z", 9), 0);
    m.SetSize(3);
    EXPECT_EQ(m.Position(), 3);
    TMemoryStream copy;
    copy.CopyFrom(m, 0);
    EXPECT_EQ(copy.Size(), 3);
    EXPECT_EQ(std::memcmp(copy.Memory(), "abc", 3), 0);

    TempDir dir;
    copy.SaveToFile(dir.path() + "/m.bin");
    TMemoryStream loaded;
    loaded.LoadFromFile(dir.path() + "/m.bin");
    EXPECT_EQ(loaded.Size(), 3);
    EXPECT_EQ(loaded.Position(), 0);
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Read(buf, 1), 0);
}
