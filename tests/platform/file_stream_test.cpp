// The file stream on a real file system: bytes land in the file in order whichever way
// they are written, Append continues and Create empties, an interrupted stream keeps what
// it was given, a full disk is an EWriteError that leaves only whole writes behind, and
// the file system's space is reserved ahead of the data and given back at the end.

#include "platform/posix/PosixFileStream.h"
#include "platform/posix/PosixSystem.h"
#include "platform/runtime/Exception.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using platform::PosixFileStream;
using platform::PosixSystem;
using OpenMode = platform::System::OpenMode;

namespace {

struct FileStreamTest : ::testing::Test {
    PosixSystem sys;
    fs::path dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/file-stream-test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A pattern whose every byte depends on its offset, so a misplaced block shows.
std::string Pattern(std::size_t n, std::size_t from = 0)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(((from + i) * 131 + (from + i) / 7919) & 0xff);
    return s;
}

// Writes `bytes` in pieces of `piece`, alternating the two ways a stream is written.
void WriteInPieces(TStream& s, const std::string& bytes, std::size_t piece)
{
    bool zeroCopy = true;
    for (std::size_t at = 0; at < bytes.size(); at += piece, zeroCopy = !zeroCopy) {
        const std::size_t n = std::min(piece, bytes.size() - at);
        if (zeroCopy) {
            // Room for more than is taken: only the first n bytes count.
            char* room = s.BeginWrite(n + 7);
            std::memcpy(room, bytes.data() + at, n);
            std::memset(room + n, 'X', 7);
            s.EndWrite(n);
        } else {
            s.Write(bytes.data() + at, n);
        }
    }
}

TEST_F(FileStreamTest, BytesLandInOrderWhateverTheWriteSizes)
{
    struct Case {
        const char* name;
        std::size_t total;
        std::size_t piece;
    } cases[] = {
        {.name = "receive blocks", .total = 3 * PosixFileStream::BufferSize + 12345, .piece = 32768},
        {.name = "odd pieces across the buffer's end", .total = 2 * PosixFileStream::BufferSize + 1, .piece = 999},
        {.name = "pieces bigger than the buffer",
         .total = 5 * PosixFileStream::BufferSize,
         .piece = PosixFileStream::BufferSize + 3},
        {.name = "one byte", .total = 1, .piece = 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = Pattern(c.total);
        {
            auto s = sys.OpenFileStream(Path("out"), OpenMode::Create);
            WriteInPieces(*s, bytes, c.piece);
            EXPECT_EQ(s->Size(), static_cast<std::int64_t>(c.total));
            EXPECT_EQ(s->Position(), s->Size());
            s->Flush();
            EXPECT_EQ(Slurp(Path("out")), bytes);
        }
        EXPECT_EQ(sys.FileSize(Path("out")), static_cast<std::int64_t>(c.total));
    }
}

TEST_F(FileStreamTest, AppendContinuesCreateEmptiesTruncateCuts)
{
    const std::string head = Pattern(700000);
    const std::string tail = Pattern(900000, head.size());
    {
        auto s = sys.OpenFileStream(Path("f"), OpenMode::Create);
        s->Write(head);
    } // freed without Flush: the buffered bytes are written all the same
    ASSERT_EQ(Slurp(Path("f")), head);
    {
        auto s = sys.OpenFileStream(Path("f"), OpenMode::Append);
        EXPECT_EQ(s->Size(), static_cast<std::int64_t>(head.size()));
        WriteInPieces(*s, tail, 32768);
        s->Flush();
    }
    ASSERT_EQ(Slurp(Path("f")), head + tail);
    {
        auto s = sys.OpenFileStream(Path("f"), OpenMode::Append);
        s->Write("abc");
        s->Truncate(head.size() + 10); // inside what is on disk
        EXPECT_EQ(s->Size(), static_cast<std::int64_t>(head.size() + 10));
        s->Write("xyz");
        s->Write("12345");
        s->Truncate(head.size() + 14); // inside the buffer
        s->Write("!");
    }
    EXPECT_EQ(Slurp(Path("f")), head + tail.substr(0, 10) + "xyz1!");
    {
        auto s = sys.OpenFileStream(Path("f"), OpenMode::Create);
        EXPECT_EQ(s->Size(), 0);
    }
    EXPECT_EQ(sys.FileSize(Path("f")), 0);
}

TEST_F(FileStreamTest, OpeningFailsWithTheFileAndTheSystemText)
{
    fs::create_directory(dir / "folder");
    std::ofstream(dir / "folder" / "inside") << "kept";
    struct Case {
        const char* name;
        std::string path;
        const char* text;
    } cases[] = {
        {.name = "missing folder", .path = Path("none/f"), .text = "No such file or directory"},
        {.name = "a folder with something in it", .path = Path("folder"), .text = "Directory not empty"},
        {.name = "empty name", .path = "", .text = "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto mode : {OpenMode::Create, OpenMode::Append}) {
            try {
                sys.OpenFileStream(c.path, mode);
                ADD_FAILURE() << "opened";
            } catch (const EFCreateError& e) {
                EXPECT_EQ(e.Message(), "Cannot create file \"" + c.path + "\". " + c.text);
            }
        }
    }
}

// Whatever is planted where the stream's file goes is replaced by a fresh file of its own,
// never written through: the file a link names keeps its bytes, in both modes.
TEST_F(FileStreamTest, APlantedLinkOrSpecialFileIsReplacedNeverWrittenThrough)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& at, const fs::path& victim)> plant;
    } cases[] = {
        {.name = "a symbolic link to a file", .plant = [](auto& at, auto& victim) { fs::create_symlink(victim, at); }},
        {.name = "a symbolic link to nothing",
         .plant = [](auto& at, auto&) { fs::create_symlink("/nonexistent-x", at); }},
        {.name = "a hard link", .plant = [](auto& at, auto& victim) { fs::create_hard_link(victim, at); }},
        {.name = "an empty folder", .plant = [](auto& at, auto&) { fs::create_directory(at); }},
        {.name = "a pipe", .plant = [](auto& at, auto&) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
    };
    for (const auto& c : cases) {
        for (auto mode : {OpenMode::Create, OpenMode::Append}) {
            SCOPED_TRACE(std::string(c.name) + (mode == OpenMode::Create ? ", create" : ", append"));
            const fs::path victim = dir / "victim", at = dir / "setup.exe.part";
            std::ofstream(victim) << "precious";
            fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
            c.plant(at, victim);
            {
                auto stream = sys.OpenFileStream(at.string(), mode);
                EXPECT_EQ(stream->Size(), 0);
                stream->Write("new", 3);
            }
            EXPECT_EQ(Slurp(victim.string()), "precious");
            EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at)));
            EXPECT_EQ(fs::hard_link_count(at), 1u);
            EXPECT_EQ(Slurp(at.string()), "new");
            fs::remove(at);
            fs::remove(victim);
        }
    }
}

// A full disk, played by the file-size limit: the write that needs the space fails with
// EWriteError and the system's text, and the file holds what was written before it.
TEST_F(FileStreamTest, FullDiskIsAWriteErrorNotACrash)
{
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    constexpr std::int64_t kLimit = 3 * (std::int64_t{1} << 20) + 5000;
    struct rlimit small = saved;
    small.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    const std::string bytes = Pattern(8 << 20);
    std::string message;
    std::int64_t sizeAtFailure = -1;
    {
        auto s = sys.OpenFileStream(Path("big"), OpenMode::Create);
        try {
            WriteInPieces(*s, bytes, 32768);
            s->Flush();
        } catch (const EWriteError& e) {
            message = e.Message();
            sizeAtFailure = s->Size();
        }
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_EQ(message, "Cannot write file \"" + Path("big") + "\". File too large");
    const std::string kept = Slurp(Path("big"));
    EXPECT_LE(static_cast<std::int64_t>(kept.size()), kLimit);
    EXPECT_GE(static_cast<std::int64_t>(kept.size()),
              sizeAtFailure - static_cast<std::int64_t>(PosixFileStream::BufferSize));
    EXPECT_EQ(kept, bytes.substr(0, kept.size()));
}

std::int64_t AllocatedBytes(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return static_cast<std::int64_t>(st.st_blocks) * 512;
}

TEST_F(FileStreamTest, SpaceIsReservedAheadAndGivenBackAtTheEnd)
{
    {
        const int fd = ::open(Path("probe").c_str(), O_WRONLY | O_CREAT, 0600);
        const bool supported = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 4096) == 0;
        ::close(fd);
        if (!supported)
            GTEST_SKIP() << "this file system reserves no space";
    }
    const std::string bytes = Pattern(PosixFileStream::BufferSize + 100);
    {
        auto s = sys.OpenFileStream(Path("r"), OpenMode::Create);
        s->Write(bytes);
        EXPECT_GE(AllocatedBytes(Path("r")), PosixFileStream::ReserveStep);
        EXPECT_EQ(sys.FileSize(Path("r")), static_cast<std::int64_t>(bytes.size())); // the size stays the data's
    }
    EXPECT_LT(AllocatedBytes(Path("r")), PosixFileStream::ReserveStep);
    EXPECT_EQ(Slurp(Path("r")), bytes);
}

TEST_F(FileStreamTest, RenameDeleteSizeAndFreeSpace)
{
    std::ofstream(Path("a")) << "new";
    std::ofstream(Path("b")) << "older bytes";
    EXPECT_TRUE(sys.RenameFile(Path("a"), Path("b")));
    EXPECT_EQ(Slurp(Path("b")), "new");
    EXPECT_FALSE(sys.FileExists(Path("a")));
    EXPECT_FALSE(sys.RenameFile(Path("a"), Path("c")));
    EXPECT_EQ(sys.FileSize(Path("b")), 3);
    EXPECT_EQ(sys.FileSize(Path("a")), std::nullopt);
    EXPECT_EQ(sys.FileSize(dir.string()), std::nullopt); // a folder is no file
    EXPECT_TRUE(sys.RemoveFile(Path("b")));
    EXPECT_TRUE(sys.RemoveFile(Path("b"))); // gone already
    EXPECT_FALSE(sys.FileExists(Path("b")));

    const auto free = sys.FreeSpace(dir.string());
    ASSERT_TRUE(free.has_value());
    EXPECT_GT(*free, 0);
    EXPECT_EQ(sys.FreeSpace(Path("none/deeper")), std::nullopt);
}

} // namespace
