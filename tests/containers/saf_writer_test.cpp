#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/my_error.h"
#include "containers/crc32.h"
#include "containers/password_stream.h"
#include "containers/saf_reader.h"
#include "containers/saf_writer.h"
#include "platform/file_info.h"
#include "tests/containers/saf_test_support.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

using test::le16;
using test::le32;
using test::le64;

class SafWriterTest : public test::ScratchTest {
  protected:
    std::string archive() const { return path("B1_1.SAF"); }
};

TEST_F(SafWriterTest, AnEmptyArchiveIsTheHeaderAndTheTrailer) {
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    // Until it is closed the file says: no entries, no trailer, length 56.
    std::string early = read_file(archive());
    ASSERT_EQ(early.size(), 56u);
    EXPECT_EQ(le32(early, 16), 0u);
    EXPECT_EQ(le64(early, 40), 0u);
    EXPECT_EQ(le64(early, 48), 56u);
    ASSERT_TRUE(w.close_archive());

    std::string b = read_file(archive());
    ASSERT_EQ(b.size(), 56u + 88u);
    EXPECT_EQ(b.substr(0, 4), std::string("SAF\0", 4));
    EXPECT_EQ(le16(b, 4), 2u);
    EXPECT_EQ(le16(b, 6), 9u);
    EXPECT_EQ(le16(b, 8), 12u);
    EXPECT_EQ(le16(b, 10), 0u);
    EXPECT_EQ(le32(b, 12), 0u);
    EXPECT_EQ(le32(b, 16), 1u);
    EXPECT_EQ(b.substr(20, 20), std::string(20, '\0'));
    EXPECT_EQ(le64(b, 40), 56u);
    EXPECT_EQ(le64(b, 48), 144u);
    std::string trailer = b.substr(56);
    EXPECT_EQ(trailer.substr(0, 4), std::string("HDR\0", 4));
    EXPECT_EQ(le32(trailer, 4), 0u);
    EXPECT_EQ(le32(trailer, 40), 0u);
    EXPECT_EQ(le32(trailer, 76), 0x60u);  // type 6, method 0
    uint32_t checksum = le32(trailer, 80);
    test::put32(trailer, 80, 0);
    EXPECT_EQ(checksum, crc32_of(trailer.data(), 88));
}

TEST_F(SafWriterTest, ZipFilesAreStoredAndOthersCompressed) {
    std::string content = test::prose(100000);
    std::string upper = write_file("src/X.ZIP", content);
    std::string lower = write_file("src/x.zip", content);
    std::string text = write_file("src/notes.zip.txt", content);
    std::string empty = write_file("src/empty", "");
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    for (auto& p : {upper, lower, text, empty})
        ASSERT_TRUE(test::save_file(w, p)) << w.error_text();
    ASSERT_TRUE(w.close_archive());

    std::string b = read_file(archive());
    uint64_t pos = 56;
    uint32_t crc = crc32_of(content.data(), content.size());
    for (int i = 0; i < 4; ++i) {
        const std::string& name = i == 0 ? upper : i == 1 ? lower : i == 2 ? text : empty;
        EXPECT_EQ(le32(b, pos + 4), static_cast<uint32_t>(i));
        EXPECT_EQ(le32(b, pos + 40), name.size() + 1);
        EXPECT_EQ(b.substr(pos + 88, name.size() + 1), name + std::string(1, '\0'));
        uint32_t flags = le32(b, pos + 76);
        uint64_t stored = le64(b, pos + 16), plain = le64(b, pos + 24);
        std::string data = b.substr(pos + 88 + name.size() + 1, stored);
        if (i < 2) {
            EXPECT_EQ(flags, 0x10u);
            EXPECT_EQ(stored, plain);
            EXPECT_EQ(data, content);
            EXPECT_EQ(le32(b, pos + 32), crc);
            EXPECT_EQ(le32(b, pos + 36), crc);
        } else if (i == 2) {
            EXPECT_EQ(flags, 0x11u);
            EXPECT_EQ(plain, content.size());
            EXPECT_LT(stored, plain);
            EXPECT_EQ(le32(b, pos + 36), crc);
            EXPECT_EQ(le32(b, pos + 32), crc32_of(data.data(), data.size()));
        } else {
            EXPECT_EQ(flags, 0x11u);
            EXPECT_EQ(plain, 0u);
            EXPECT_EQ(data, std::string("\x01\x01", 2));
        }
        EXPECT_EQ(le32(b, pos + 80), 0u);  // entries' checksums stay 0
        EXPECT_EQ(le16(b, pos + 72), 0u);
        pos += 88 + name.size() + 1 + stored;
    }
    EXPECT_EQ(le64(b, 40), pos);
    EXPECT_EQ(le32(b, 16), 5u);
}

TEST_F(SafWriterTest, HeadersCarryAttributesTimesAndTheFullPath) {
    std::string file = write_file("src/.hidden", "abc");
    ::chmod(file.c_str(), 0444);
    std::string dir = path("src/emptydir");
    std::filesystem::create_directories(dir);
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, file));
    // Taken after the save: reading the file may have moved its access time.
    platform::FileInfo info;
    ASSERT_TRUE(platform::stat_path(file, info));
    ASSERT_TRUE(w.add_directory_entry(dir));
    ASSERT_TRUE(w.close_archive());
    std::string b = read_file(archive());
    EXPECT_EQ(le32(b, 56 + 8), platform::kAttrReadOnly | platform::kAttrHidden);
    EXPECT_EQ(le64(b, 56 + 48), info.times.last_write);
    EXPECT_EQ(le64(b, 56 + 56), info.times.creation);
    EXPECT_EQ(le64(b, 56 + 64), info.times.last_access);
    uint64_t d = 56 + 88 + file.size() + 1 + le64(b, 56 + 16);
    EXPECT_EQ(le32(b, d + 4), 1u);
    EXPECT_EQ(le32(b, d + 76), 0x20u);  // type 2, method 0
    EXPECT_EQ(le32(b, d + 8), 0u);
    EXPECT_EQ(le64(b, d + 16), 0u);
    EXPECT_EQ(le64(b, d + 48), 0u);
    EXPECT_EQ(b.substr(d + 88, dir.size() + 1), dir + std::string(1, '\0'));
}

TEST_F(SafWriterTest, ADroppedEntryLeavesTheArchiveExactlyAsBefore) {
    std::string a = write_file("src/a", test::prose(70000));
    std::string b = write_file("src/b", test::random_text(5000, 1));
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, a));

    platform::File src;
    ASSERT_TRUE(src.open(b, platform::OpenMode::Read));
    ASSERT_TRUE(w.open_file_entry(b));
    ASSERT_TRUE(w.write_entry_data(src));
    EXPECT_EQ(w.entry_count(), 2u);
    ASSERT_TRUE(w.drop_entry());
    EXPECT_EQ(w.entry_count(), 1u);
    EXPECT_TRUE(w.drop_entry());  // a second drop changes nothing

    ASSERT_TRUE(test::save_file(w, b));  // takes number 1
    ASSERT_TRUE(w.close_archive());
    SafWriter plain;
    ASSERT_TRUE(plain.create_archive(path("plain.SAF")));
    ASSERT_TRUE(test::save_file(plain, a));
    ASSERT_TRUE(test::save_file(plain, b));
    ASSERT_TRUE(plain.close_archive());
    EXPECT_EQ(read_file(archive()), read_file(path("plain.SAF")));
}

TEST_F(SafWriterTest, EncodingStoresTheCheckValueAndEncodesFromPositionZero) {
    std::string content = test::prose(3000);
    std::string z1 = write_file("src/one.zip", content);
    std::string z2 = write_file("src/two.zip", content);
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "secret"));
    ASSERT_TRUE(test::save_file(w, z1));
    ASSERT_TRUE(test::save_file(w, z2));
    ASSERT_TRUE(w.close_archive());
    std::string b = read_file(archive());
    EXPECT_EQ(le16(b, 10), 1u);
    EXPECT_EQ(le32(b, 12), PasswordStream::make_check_value("secret"));
    std::string expected = content;
    PasswordStream ps("secret");
    ps.encode(expected.data(), static_cast<std::ptrdiff_t>(expected.size()));
    uint64_t first = 56 + 88 + z1.size() + 1;
    EXPECT_EQ(b.substr(first, content.size()), expected);
    uint64_t second = first + content.size() + 88 + z2.size() + 1;
    EXPECT_EQ(b.substr(second, content.size()), expected);
    // Both CRCs are of the plain bytes.
    EXPECT_EQ(le32(b, 56 + 32), crc32_of(content.data(), content.size()));

    // An empty password means no encoding.
    SafWriter plain;
    ASSERT_TRUE(plain.create_archive(path("B1_2.SAF")));
    ASSERT_TRUE(plain.set_encoding(SafEncoding::PasswordStream, ""));
    ASSERT_TRUE(plain.close_archive());
    std::string p = read_file(path("B1_2.SAF"));
    EXPECT_EQ(le16(p, 10), 0u);
    EXPECT_EQ(le32(p, 12), 0u);
}

TEST_F(SafWriterTest, VerifyFindsAnEntryThatDiffersFromItsSource) {
    for (const char* name : {"src/big.txt", "src/big.zip"}) {
        std::string file = write_file(name, test::prose(200000) + test::random_text(70000, 3));
        SafWriter w;
        ASSERT_TRUE(w.create_archive(archive()));
        ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "pw"));
        platform::File src;
        ASSERT_TRUE(src.open(file, platform::OpenMode::Read));
        ASSERT_TRUE(w.open_file_entry(file));
        ASSERT_TRUE(w.write_entry_data(src));
        ASSERT_TRUE(src.seek(0));
        EXPECT_TRUE(w.verify_entry(src)) << name;
        // One byte changed, or one byte more, after the data was written.
        std::string changed = read_file(file);
        changed[150000] ^= 1;
        test::write_whole_file(file, changed);
        ASSERT_TRUE(src.seek(0));
        EXPECT_FALSE(w.verify_entry(src)) << name;
        changed[150000] ^= 1;
        test::write_whole_file(file, changed + "x");
        ASSERT_TRUE(src.seek(0));
        EXPECT_FALSE(w.verify_entry(src)) << name;
        ASSERT_TRUE(w.close_entry());
        ASSERT_TRUE(w.close_archive());
    }
}

TEST_F(SafWriterTest, FailuresGiveTheDesignedCodesAndTexts) {
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    EXPECT_FALSE(w.create_archive(path("other.SAF")));
    EXPECT_FALSE(w.open_file_entry(path("missing")));
    EXPECT_EQ(w.error_code(), 31);
    EXPECT_EQ(w.error_text(),
              "Can't stat file " + path("missing") + ": No such file or directory\n");
    EXPECT_FALSE(w.add_directory_entry(path("nodir")));
    EXPECT_EQ(w.error_code(), 31);
    EXPECT_FALSE(w.add_file(path("missing")));
    EXPECT_EQ(w.error_text(),
              "Can't open file " + path("missing") + ": No such file or directory\n");
    // A name the reader would refuse is never written.
    EXPECT_FALSE(w.open_file_entry("/" + std::string(5000, 'n')));
    EXPECT_EQ(w.error_code(), 31);
    // A source that cannot be read fails the entry and cuts it off.
    std::string dir = path("src");
    std::filesystem::create_directories(dir);
    std::string f = write_file("src/f", "data");
    platform::File folder;
    ASSERT_TRUE(folder.open(dir, platform::OpenMode::Read));
    ASSERT_TRUE(w.open_file_entry(f));
    EXPECT_FALSE(w.write_entry_data(folder));
    EXPECT_EQ(w.error_code(), 29);
    EXPECT_EQ(w.error_text(), "Failed to add file (" + f + ") to SAF file");
    EXPECT_FALSE(w.entry_open());
    EXPECT_EQ(w.entry_count(), 0u);
    EXPECT_TRUE(w.add_file(f));
    ASSERT_TRUE(w.close_archive());
    SafReader r;
    r.open(archive());
    EXPECT_EQ(r.entry_count(), 2u);
    EXPECT_EQ(r.entry(0).name, f);
    EXPECT_EQ(r.entry(1).type, saf::kTypeTrailer);
}

// A disk that holds `limit` bytes of archive; counts flushes.
class SmallDisk : public SafArchiveFile {
  public:
    explicit SmallDisk(uint64_t limit, int* syncs) : limit_(limit), syncs_(syncs) {}
    bool write_at(const void* data, size_t length, uint64_t offset) override {
        if (offset + length > limit_) {
            // Part of it lands, as on a real disk, and the rest is refused.
            if (offset < limit_) SafArchiveFile::write_at(data, limit_ - offset, offset);
            return false;
        }
        return SafArchiveFile::write_at(data, length, offset);
    }
    bool sync() override {
        ++*syncs_;
        return SafArchiveFile::sync();
    }

  private:
    uint64_t limit_;
    int* syncs_;
};

TEST_F(SafWriterTest, AWriteThatFailsCutsTheEntryOffAndTheArchiveStaysReadable) {
    std::string small = write_file("src/small", "small file");
    std::string big = write_file("src/big", test::random_text(300000, 9));
    std::string last = write_file("src/last", test::prose(5000));
    int syncs = 0;
    SafWriter w(std::make_unique<SmallDisk>(200000, &syncs));
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, small));
    platform::File src;
    ASSERT_TRUE(src.open(big, platform::OpenMode::Read));
    ASSERT_TRUE(w.open_file_entry(big));
    EXPECT_FALSE(w.write_entry_data(src));
    EXPECT_EQ(w.error_code(), 28);
    EXPECT_EQ(w.error_text(), "Write failed on SAF file");
    EXPECT_FALSE(w.entry_open());
    EXPECT_TRUE(w.drop_entry());  // what the run does next changes nothing
    ASSERT_TRUE(test::save_file(w, last));
    EXPECT_EQ(syncs, 0);
    ASSERT_TRUE(w.close_archive());
    EXPECT_EQ(syncs, 1);  // flushed before success was reported

    SafReader r;
    r.open(archive());
    ASSERT_EQ(r.entry_count(), 3u);
    EXPECT_EQ(r.entry(0).name, small);
    EXPECT_EQ(r.entry(1).name, last);
    EXPECT_EQ(r.entry(1).number, 1u);
    ASSERT_EQ(r.extract_entry(1, path("out")), SafExtractResult::Extracted);
    EXPECT_EQ(read_file(path("out")), read_file(last));
}

TEST_F(SafWriterTest, AFullDiskNeverLeavesAnArchiveClaimingAFileItLacks) {
    test::TinyFs disk(path("disk"), 256 * 1024);
    if (!disk.ok()) GTEST_SKIP() << disk.why_not();
    std::string small = write_file("src/small", "x");
    std::string big = write_file("src/big", test::random_text(1 << 20, 4));
    SafWriter w;
    std::string arc = disk.dir() + "/B1_1.SAF";
    ASSERT_TRUE(w.create_archive(arc));
    ASSERT_TRUE(test::save_file(w, small));
    EXPECT_FALSE(test::save_file(w, big));
    EXPECT_EQ(w.error_code(), 28);
    ASSERT_TRUE(w.drop_entry());
    ASSERT_TRUE(w.close_archive()) << w.error_text();
    SafReader r;
    r.open(arc);
    ASSERT_EQ(r.entry_count(), 2u);
    EXPECT_EQ(r.entry(0).name, small);
    EXPECT_EQ(r.entry(1).type, saf::kTypeTrailer);
}

TEST_F(SafWriterTest, AnAbortFromTheProgressHookLeavesTheArchiveConsistent) {
    std::string keep = write_file("src/keep", test::prose(1000));
    std::string big = write_file("src/big", test::prose(500000));
    SafWriter w;
    int calls = 0;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, keep));
    w.set_progress_hook([&] {
        if (++calls == 3) throw MyError(RUN_ABORTED, "Abort flag set");
    });
    platform::File src;
    ASSERT_TRUE(src.open(big, platform::OpenMode::Read));
    ASSERT_TRUE(w.open_file_entry(big));
    try {
        w.write_entry_data(src);
        FAIL() << "the abort did not pass";
    } catch (const MyError& e) {
        EXPECT_EQ(e.code(), RUN_ABORTED);
        EXPECT_STREQ(e.message(), "Abort flag set");
    }
    EXPECT_FALSE(w.entry_open());
    w.set_progress_hook({});
    ASSERT_TRUE(w.close_archive());
    SafReader r;
    r.open(archive());
    ASSERT_EQ(r.entry_count(), 2u);
    EXPECT_EQ(r.entry(0).name, keep);
    EXPECT_EQ(r.entry(1).type, saf::kTypeTrailer);
    EXPECT_EQ(std::filesystem::file_size(archive()), r.entry(1).position + 88);
}

TEST_F(SafWriterTest, AnEntryLeftOpenIsCutOffAtClose) {
    std::string f = write_file("src/f", test::prose(10000));
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    platform::File src;
    ASSERT_TRUE(src.open(f, platform::OpenMode::Read));
    ASSERT_TRUE(w.open_file_entry(f));
    ASSERT_TRUE(w.write_entry_data(src));
    ASSERT_TRUE(w.close_archive());
    EXPECT_EQ(std::filesystem::file_size(archive()), 144u);
}

}  // namespace
}  // namespace vardel

namespace vardel {
namespace {

// Large files go in pieces made on worker threads: the archive is the same
// byte for byte as one written on the calling thread alone, and reads back.
TEST_F(SafWriterTest, WorkersMakeTheSameArchiveAsTheCallingThreadAlone) {
    std::vector<std::string> files = {
        write_file("src/big.txt", test::prose(3 * SafWriter::kPieceSize + 12345)),
        write_file("src/exact.bin", test::random_text(2 * SafWriter::kPieceSize, 3)),
        write_file("src/small.txt", test::prose(5000)),
        write_file("src/stored.zip", test::random_text(SafWriter::kPieceSize + 7, 4)),
    };
    platform::WorkPool pool(3);
    auto write = [&](const std::string& arc, platform::WorkPool* workers) {
        SafWriter w;
        w.set_work_pool(workers);
        ASSERT_TRUE(w.create_archive(arc));
        ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "secret"));
        for (const std::string& f : files) ASSERT_TRUE(test::save_file(w, f)) << w.error_text();
        ASSERT_TRUE(w.close_archive());
    };
    write(path("alone.SAF"), nullptr);
    write(archive(), &pool);
    EXPECT_EQ(read_file(archive()), read_file(path("alone.SAF")));

    SafReader r;
    r.open(archive());
    r.set_password("secret");
    for (uint32_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(r.extract_entry(i, path("out")), SafExtractResult::Extracted);
        EXPECT_EQ(read_file(path("out")), read_file(files[i])) << files[i];
    }
}

}  // namespace
}  // namespace vardel
