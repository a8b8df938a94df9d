#include "containers/zip_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "containers/zip_reader.h"
#include "platform/file_info.h"
#include "tests/containers/zip_tools.h"
#include "tests/support/scratch.h"
#include "tests/support/test_data.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using test::run_python;
using test::run_tool;

// Counts the reads the writer asks for.
class CountingHook : public ZipReadHook {
  public:
    using ZipReadHook::ZipReadHook;
    bool read(platform::File& f, void* b, size_t n, size_t& got) override {
        ++calls;
        return ZipReadHook::read(f, b, n, got);
    }
    int calls = 0;
};

class ZipWriterTest : public test::ScratchTest {
  protected:
    std::atomic<bool> abort_{false};
};

TEST_F(ZipWriterTest, ArchivesPassUnzipAndPythonAndUnzipRestoresFilesModesAndTimes) {
    std::string src = path("src");
    std::vector<std::pair<std::string, std::string>> files = {
        {src + "/data.txt", test::prose(300000)},
        {src + "/archive.ZIP", test::random_text(20000, 1)},
        {src + "/bin.dat", test::random_text(700000, 2)},
        {src + "/empty.txt", ""},
        {src + "/sub/deep/ro.txt", "read only"},
        {src + "/run.sh", "#!/bin/sh\necho hi\n"},
        {src + "/na\xc3\xafve caf\xc3\xa9.txt", "utf-8 name"},
    };
    for (auto& [p, data] : files) test::write_whole_file(p, data);
    ::chmod((src + "/sub/deep/ro.txt").c_str(), 0444);
    ::chmod((src + "/run.sh").c_str(), 0755);
    ASSERT_TRUE(platform::set_file_times(src + "/data.txt",
                                         platform::filetime_from_unix(1500000000, 0),
                                         platform::filetime_from_unix(1500000000, 0)));
    fs::create_directories(src + "/emptydir");

    std::string zip = path("B1_1.ZIP");
    auto w = ZipWriter::create(zip);
    ASSERT_TRUE(w);
    ZipReadHook hook(abort_);
    for (auto& [p, data] : files) EXPECT_EQ(w->add_file(p, p, hook), ZR_OK) << p;
    EXPECT_EQ(w->add_folder(src + "/emptydir"), ZR_OK);
    EXPECT_EQ(w->close(), ZR_OK);

    auto t = run_tool({"/usr/bin/unzip", "-t", zip});
    EXPECT_EQ(t.exit_code, 0) << t.out << t.err;

    auto py = run_python(R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print("bad", z.testzip())
for i in z.infolist():
    print(i.filename, i.compress_type, oct(i.external_attr >> 16), i.create_system)
)",
                         {zip});
    ASSERT_EQ(py.exit_code, 0) << py.err;
    EXPECT_NE(py.out.find("bad None\n"), std::string::npos) << py.out;
    std::string rel = src.substr(1);  // the full path without its leading "/"
    EXPECT_NE(py.out.find(rel + "/archive.ZIP 0 "), std::string::npos) << py.out;
    EXPECT_NE(py.out.find(rel + "/data.txt 8 "), std::string::npos) << py.out;
    EXPECT_NE(py.out.find(rel + "/run.sh 8 0o100755 3\n"), std::string::npos) << py.out;
    EXPECT_NE(py.out.find(rel + "/emptydir/ 0 0o40"), std::string::npos) << py.out;
    EXPECT_NE(py.out.find(rel + "/na\xc3\xafve caf\xc3\xa9.txt 8"), std::string::npos) << py.out;
    EXPECT_EQ(py.out.find("\n/"), std::string::npos) << "no absolute names: " << py.out;

    std::string out = path("out");
    auto x = run_tool({"/usr/bin/unzip", "-q", "-o", zip, "-d", out});
    ASSERT_EQ(x.exit_code, 0) << x.out << x.err;
    for (auto& [p, data] : files) EXPECT_EQ(read_file(out + p), data) << p;
    EXPECT_TRUE(fs::is_directory(out + src + "/emptydir"));
    platform::FileInfo fi;
    ASSERT_TRUE(platform::stat_path(out + src + "/sub/deep/ro.txt", fi));
    EXPECT_EQ(fi.mode & 0777, 0444u);
    ASSERT_TRUE(platform::stat_path(out + src + "/run.sh", fi));
    EXPECT_EQ(fi.mode & 0777, 0755u);
    ASSERT_TRUE(platform::stat_path(out + src + "/data.txt", fi));
    EXPECT_EQ(fi.mtime_sec, 1500000000);
}

TEST_F(ZipWriterTest, NamesDropTheLeadingSlashAndTheListedExtensionsAreStoredInAnyCase) {
    EXPECT_EQ(ZipWriter::entry_name("/home/ann/a.txt"), "home/ann/a.txt");
    EXPECT_EQ(ZipWriter::entry_name("//srv/x"), "srv/x");
    EXPECT_EQ(ZipWriter::entry_name("/"), "");
    for (const char* n : {"a.Z", "a.z", "b.zip", "B.ZIP", "c.zoo", "d.ARC", "e.lzh", "f.arj",
                          "g.gz", "h.TgZ", "dir/"})
        EXPECT_TRUE(ZipWriter::stored_by_name(n)) << n;
    for (const char* n : {"data.txt", "a.zip.txt", "gz", "x.tar", "zip", "a.zipx"})
        EXPECT_FALSE(ZipWriter::stored_by_name(n)) << n;

    // The root itself has no name: nothing to add.
    auto w = ZipWriter::create(path("a.zip"));
    ASSERT_TRUE(w);
    EXPECT_EQ(w->add_folder("/"), ZR_ARGS);
}

TEST_F(ZipWriterTest, EncodedEntriesHoldEncodedBytesThatThePasswordStreamRestores) {
    std::string a = write_file("a.txt", test::prose(100000));
    std::string b = write_file("b.bin", test::random_text(5000, 3));
    std::string zip = path("enc.zip");
    PasswordStream stream("secret");
    {
        auto w = ZipWriter::create(zip);
        ASSERT_TRUE(w);
        ZipReadHook hook(abort_, &stream);
        EXPECT_EQ(w->add_file(a, a, hook), ZR_OK);
        EXPECT_EQ(w->add_file(b, b, hook), ZR_OK);
        EXPECT_EQ(w->close(), ZR_OK);
    }
    EXPECT_EQ(run_tool({"/usr/bin/unzip", "-tq", zip}).exit_code, 0);
    for (const std::string& p : {a, b}) {
        auto x = run_tool({"/usr/bin/unzip", "-p", zip, p.substr(1)});
        ASSERT_EQ(x.exit_code, 0) << x.err;
        std::string plain = read_file(p);
        ASSERT_EQ(x.out.size(), plain.size());
        EXPECT_NE(x.out, plain);
        // Every file was encoded from position 0.
        PasswordStream decode("secret");
        decode.encode(x.out.data(), static_cast<std::ptrdiff_t>(x.out.size()));
        EXPECT_EQ(x.out, plain) << p;
    }
}

TEST_F(ZipWriterTest, ResultTextsFollowTheTableAndAreCutToFit) {
    char buf[64];
    EXPECT_EQ(zip_result_text(ZR_OK, buf, sizeof buf), 7u);
    EXPECT_STREQ(buf, "Success");
    zip_result_text(ZR_NODUPH, buf, sizeof buf);
    EXPECT_STREQ(buf, "Culdn't duplicate handle");
    zip_result_text(ZR_CORRUPT, buf, sizeof buf);
    EXPECT_STREQ(buf, "Zipfile is corrupt or not a zipfile");
    zip_result_text(ZR_FLATE, buf, sizeof buf);
    EXPECT_STREQ(buf, "Zip-bug: an internal error during flation");
    zip_result_text(0x7A, buf, sizeof buf);
    EXPECT_STREQ(buf, "unknown zip result code");

    char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(zip_result_text(ZR_READ, small, sizeof small), std::strlen("Error reading file"));
    EXPECT_STREQ(small, "Error");
    char none = 'x';
    EXPECT_EQ(zip_result_text(ZR_READ, &none, 0), 18u);
    EXPECT_EQ(none, 'x');

    // Code 1 is the result of the writer's last operation.
    auto w = ZipWriter::create(path("r.zip"));
    ASSERT_TRUE(w);
    ZipReadHook hook(abort_);
    EXPECT_EQ(w->add_file("/missing", path("missing"), hook), ZR_NOFILE);
    w->result_text(ZR_RECENT, buf, sizeof buf);
    EXPECT_STREQ(buf, "Couldn't create/open file");
}

TEST_F(ZipWriterTest, AnAbortDuringAnAddFailsTheHookAtOnceAndTheAdd) {
    class AbortAfterFirstRead : public ZipReadHook {
      public:
        AbortAfterFirstRead(std::atomic<bool>& abort) : ZipReadHook(abort), flag_(abort) {}
        bool read(platform::File& f, void* b, size_t n, size_t& got) override {
            bool ok = ZipReadHook::read(f, b, n, got);
            results.push_back({ok, got});
            flag_ = true;  // as the control thread would, mid-file
            return ok;
        }
        std::vector<std::pair<bool, size_t>> results;
        std::atomic<bool>& flag_;
    };
    std::string good = write_file("good.txt", test::prose(10000));
    std::string big = write_file("big.txt", test::prose(3 * 1024 * 1024));
    std::string zip = path("abort.zip");
    auto w = ZipWriter::create(zip);
    ASSERT_TRUE(w);
    ZipReadHook plain(abort_);
    EXPECT_EQ(w->add_file(good, good, plain), ZR_OK);
    AbortAfterFirstRead hook(abort_);
    EXPECT_NE(w->add_file(big, big, hook), ZR_OK);
    ASSERT_EQ(hook.results.size(), 2u);
    EXPECT_TRUE(hook.results[0].first);
    EXPECT_GT(hook.results[0].second, 0u);
    EXPECT_FALSE(hook.results[1].first) << "fails at once";
    EXPECT_EQ(hook.results[1].second, 0u) << "reading nothing";
    // With the flag still set the next file gives up before its first byte.
    std::string other = write_file("other.txt", "x");
    CountingHook counting(abort_);
    EXPECT_EQ(w->add_file(other, other, counting), ZR_READ);
    EXPECT_EQ(counting.calls, 1);
    EXPECT_EQ(w->close(), ZR_OK);

    // The cut-short entries never pass for whole files.
    auto r = ZipReader::open(zip);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->entry_count(), 3u);
    EXPECT_EQ(r->extract(0, path("x0")), ZR_OK);
    EXPECT_EQ(r->extract(1, path("x1")), ZR_CORRUPT);
    EXPECT_EQ(r->extract(2, path("x2")), ZR_CORRUPT);
    EXPECT_FALSE(fs::exists(path("x1")));
    auto py =
        run_python("import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).testzip())", {zip});
    EXPECT_EQ(py.out, big.substr(1) + "\n");
}

TEST_F(ZipWriterTest, SourcesThatCannotBeReadAndArchivesThatCannotBeWrittenGiveResultCodes) {
    EXPECT_EQ(ZipWriter::create(path("no/such/folder/x.zip")), nullptr);

    auto w = ZipWriter::create(path("w.zip"));
    ASSERT_TRUE(w);
    ZipReadHook hook(abort_);
    EXPECT_EQ(w->add_file("/missing", path("missing"), hook), ZR_NOFILE);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    EXPECT_EQ(w->add_file(path("fifo"), path("fifo"), hook), ZR_NOFILE)
        << "refused without blocking";
    EXPECT_EQ(w->add_file(scratch(), scratch(), hook), ZR_NOFILE);
    std::string ok = write_file("ok.txt", "fine");
    EXPECT_EQ(w->add_file(ok, ok, hook), ZR_OK);
    EXPECT_EQ(w->close(), ZR_OK);
    EXPECT_EQ(w->add_file(ok, ok, hook), ZR_ENDED);
    EXPECT_EQ(w->close(), ZR_ENDED);

    test::TinyFs tiny(path("tiny"), 256 * 1024);
    if (!tiny.ok()) GTEST_SKIP() << tiny.why_not();
    std::string big = write_file("big.bin", test::random_text(2 * 1024 * 1024, 9));
    auto full = ZipWriter::create(tiny.dir() + "/full.zip");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->add_file(big, big, hook), ZR_WRITE);
    EXPECT_EQ(full->write_error(), ENOSPC);
    EXPECT_EQ(full->add_file(ok, ok, hook), ZR_FAILED) << "nothing more goes into a torn archive";
    EXPECT_NE(full->close(), ZR_OK);
}

// Sparse files: the boundary costs no disk, only the time to deflate 4 GB of zeros.
TEST_F(ZipWriterTest, AFileOfFourGigabytesIsRefusedUnopenedAndOneByteLessIsAdded) {
    std::string at = path("at_limit.bin"), over = path("over_limit.bin");
    for (auto [p, size] :
         {std::pair{at, uint64_t{4294967295u}}, std::pair{over, uint64_t{4294967296u}}}) {
        platform::File f;
        ASSERT_TRUE(f.open(p, platform::OpenMode::CreateReplace));
        if (!f.truncate(size)) GTEST_SKIP() << "no files of 4 GB here";
    }
    struct stat st;
    ASSERT_EQ(::stat(over.c_str(), &st), 0);
    if (static_cast<uint64_t>(st.st_blocks) * 512 > (1u << 20))
        GTEST_SKIP() << "no sparse files here";

    EXPECT_TRUE(ZipWriter::fits(4294967295u));
    EXPECT_FALSE(ZipWriter::fits(4294967296u));
    EXPECT_EQ(ZipWriter::too_large_text(over),
              "File '" + over + "' is too large for zip file (4GB max)");

    std::string zip = path("limit.zip");
    auto w = ZipWriter::create(zip);
    ASSERT_TRUE(w);
    CountingHook refused(abort_);
    EXPECT_EQ(w->add_file(over, over, refused), ZR_ARGS);
    EXPECT_EQ(refused.calls, 0);
    CountingHook hook(abort_);
    EXPECT_EQ(w->add_file(at, at, hook), ZR_OK);
    EXPECT_EQ(w->close(), ZR_OK);

    auto r = ZipReader::open(zip);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->entry_count(), 1u);
    EXPECT_EQ(r->entry(0)->size, 4294967295u);
    auto py = run_python(R"(
import sys, zipfile
i = zipfile.ZipFile(sys.argv[1]).infolist()[0]
print(i.filename, i.file_size, i.CRC)
)",
                         {zip});
    // CRC-32 of 4294967295 zero bytes, from 4095 blocks of 1 MiB and one a byte short
    std::vector<unsigned char> zeros(1 << 20, 0);
    uLong mib = crc32(0, zeros.data(), 1 << 20), crc = crc32(0, Z_NULL, 0);
    for (int i = 0; i < 4095; ++i) crc = crc32_combine(crc, mib, 1 << 20);
    crc = crc32_combine(crc, crc32(0, zeros.data(), (1 << 20) - 1), (1 << 20) - 1);
    EXPECT_EQ(py.out, at.substr(1) + " 4294967295 " + std::to_string(crc) + "\n") << py.err;
    auto t = run_tool({"/usr/bin/unzip", "-tq", zip});
    EXPECT_EQ(t.exit_code, 0) << t.out << t.err;
}

}  // namespace
}  // namespace vardel

namespace vardel {
namespace {

// Large files are deflated in pieces on worker threads: the archive is the
// same byte for byte as one written on the calling thread, and any ZIP tool
// reads it.
TEST_F(ZipWriterTest, WorkersMakeTheSameArchiveAsTheCallingThreadAlone) {
    std::vector<std::string> files = {
        write_file("src/big.txt", test::prose(2500000)),
        write_file("src/noise.bin", test::random_text((1 << 20) * 2, 5)),
        write_file("src/small.txt", test::prose(3000)),
        write_file("src/packed.gz", test::random_text((1 << 20) + 3, 6)),
    };
    platform::WorkPool pool(3);
    auto write = [&](const std::string& zip, platform::WorkPool* workers) {
        auto w = ZipWriter::create(zip);
        ASSERT_TRUE(w);
        w->set_work_pool(workers);
        ZipReadHook hook(abort_);
        for (const std::string& f : files) EXPECT_EQ(w->add_file(f, f, hook), ZR_OK) << f;
        EXPECT_EQ(w->close(), ZR_OK);
    };
    write(path("alone.zip"), nullptr);
    write(path("workers.zip"), &pool);
    EXPECT_EQ(read_file(path("workers.zip")), read_file(path("alone.zip")));
    auto t = run_tool({"/usr/bin/unzip", "-o", "-q", path("workers.zip"), "-d", path("out")});
    ASSERT_EQ(t.exit_code, 0) << t.out << t.err;
    for (const std::string& f : files) EXPECT_EQ(read_file(path("out") + f), read_file(f)) << f;
}

}  // namespace
}  // namespace vardel
