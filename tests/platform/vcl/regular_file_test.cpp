#include "platform/vcl/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/rtl/exceptions.h"
#include "support/address_space.h"
#include "support/temp_dir.h"

namespace {

std::string MessageOf(const std::string& FileName, std::uint64_t MaxBytes) {
    try {
        vcl::LoadRegularFile(FileName, MaxBytes);
    } catch (const rtl::Exception& e) {
        return e.what();
    }
    return "(read)";
}

TEST(regular_file, a_regular_file_is_read_whole_up_to_the_ceiling_and_every_refusal_names_it) {
    test_support::TempDir dir;
    const std::string file = dir.File("data.bin");
    std::string data(200000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    std::ofstream(file, std::ios::binary) << data;
    EXPECT_TRUE(vcl::LoadRegularFile(file) == data);
    EXPECT_TRUE(vcl::LoadRegularFile(file, data.size()) == data);
    EXPECT_GT(vcl::AvailableMemory(), 0u);

    // One byte over the ceiling: refused, nothing read.
    EXPECT_EQ(MessageOf(file, data.size() - 1),
              "Cannot read \"" + file + "\" into memory: it holds 200000 bytes, more than the memory available");
    EXPECT_THROW(vcl::LoadRegularFile(file, 10), rtl::EReadError);

    // Not there, or no regular file: refused before anything is opened.
    const std::string missing = dir.File("missing.bin");
    EXPECT_EQ(MessageOf(missing, 1000).rfind("Cannot open file \"" + missing + "\". ", 0), 0u);
    EXPECT_THROW(vcl::LoadRegularFile(missing), rtl::EFOpenError);
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(MessageOf(fifo, 1000),
              "Cannot read \"" + fifo + "\": it is not a regular file (a folder, a device or a pipe)");
    EXPECT_THROW(vcl::LoadRegularFile(dir.path()), rtl::EFOpenError);
    EXPECT_THROW(vcl::LoadRegularFile("/dev/zero"), rtl::EFOpenError);
}

TEST(regular_file, a_process_with_a_limited_address_space_has_no_more_than_the_room_below_it) {
    test_support::TempDir dir;
    const std::string file = dir.File("large.bin");
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp(48 << 20);
        out << 'x';
    }
    // In a child: the limit holds for the whole process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!test_support::LimitAddressSpace(32 << 20)) _exit(2);
        const std::uint64_t available = vcl::AvailableMemory();
        // A file beyond the room is refused before any of it is read.
        const std::string refused = MessageOf(file, available);
        _exit(available <= (32 << 20) && refused.find("more than the memory available") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
