#include "platform/vcl/streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/rtl/exceptions.h"
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
