#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>

#include "common/my_error.h"
#include "containers/crc32.h"
#include "containers/saf_format.h"
#include "containers/saf_reader.h"
#include "containers/saf_writer.h"
#include "platform/file_info.h"
#include "tests/containers/saf_test_support.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using test::le32;
using test::le64;

// Hand-built archives, for layouts and faults the writer never makes.
struct RawEntry {
    std::string name;  // without the zero byte, which is added
    uint32_t flags = 0x10;
    std::string data = {};
    uint64_t plain_length = 0;
    uint64_t time = 0;
    uint32_t number = UINT32_MAX;  // default: the index
};

std::string build(const std::vector<RawEntry>& entries, uint16_t version = 2) {
    std::string out(56, '\0');
    SafFileHeader fh;
    fh.version = version;
    fh.entry_count = static_cast<uint32_t>(entries.size());
    fh.encode(reinterpret_cast<uint8_t*>(out.data()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        SafDataHeader h;
        h.number = e.number == UINT32_MAX ? static_cast<uint32_t>(i) : e.number;
        h.flags = e.flags;
        h.stored_length = e.data.size();
        h.plain_length = e.plain_length;
        h.name_length = static_cast<uint32_t>(e.name.size() + 1);
        h.last_write = h.creation = h.last_access = e.time;
        uint8_t bytes[88];
        h.encode(bytes);
        std::string head(reinterpret_cast<char*>(bytes), 88);
        if (version < 2) {
            // 0..47 alike; 48 the one time, 56 mode, 60 flags, 64 checksum.
            std::string old = head.substr(0, 56) + std::string(16, '\0');
            test::put32(old, 60, e.flags);
            head = old;
        }
        out += head + e.name + std::string(1, '\0') + e.data;
    }
    return out;
}

std::string message_of(const std::function<void()>& fn, int32_t* code = nullptr) {
    try {
        fn();
    } catch (const MyError& e) {
        if (code) *code = e.code();
        return e.message();
    }
    return "";
}

class SafReaderTest : public test::ScratchTest {
  protected:
    std::string archive() const { return path("B1_1.SAF"); }

    // A tree of the sizes that matter, saved through the entry operations.
    std::vector<std::string> make_tree() {
        std::vector<std::string> files = {
            write_file("src/empty", ""),
            write_file("src/one", "1"),
            write_file("src/b65535", test::prose(65535, 1)),
            write_file("src/b65536", test::random_text(65536, 2)),
            write_file("src/b65537", test::prose(65537, 3)),
            write_file("src/random", test::random_text(5 << 20, 4)),
            write_file("src/text", test::prose(5 << 20, 5)),
            write_file("src/Packed.ZIP", test::random_text(100000, 6)),
            write_file("src/.readonly", "do not touch"),
        };
        ::chmod(files.back().c_str(), 0444);
        ::utimensat(AT_FDCWD, files[2].c_str(),
                    std::array<timespec, 2>{timespec{1000000000, 123456700},
                                            timespec{1200000000, 987654300}}
                        .data(),
                    0);
        fs::create_directories(path("src/folder"));
        return files;
    }
};

TEST_F(SafReaderTest, ATreeRoundTripsByteForByteWithAttributesAndTimes) {
    for (bool encoded : {false, true}) {
        std::vector<std::string> files = make_tree();
        SafWriter w;
        ASSERT_TRUE(w.create_archive(archive()));
        if (encoded) {
            ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "k3y"));
        }
        for (auto& f : files) ASSERT_TRUE(test::save_file(w, f)) << f << ": " << w.error_text();
        ASSERT_TRUE(w.add_directory_entry(path("src/folder")));
        ASSERT_TRUE(w.close_archive());

        SafReader r;
        r.open(archive());
        EXPECT_EQ(r.encoding(), encoded ? SafEncoding::PasswordStream : SafEncoding::None);
        if (encoded) r.set_password("k3y");
        ASSERT_EQ(r.entry_count(), files.size() + 2);
        for (uint32_t i = 0; i < files.size(); ++i) {
            const SafEntry& e = r.entry(i);
            platform::FileInfo src;
            ASSERT_TRUE(platform::stat_path(files[i], src));
            EXPECT_EQ(e.name, files[i]);
            EXPECT_EQ(e.type, saf::kTypeFile);
            EXPECT_EQ(e.attributes, src.attributes);
            EXPECT_EQ(e.last_write, src.times.last_write);
            EXPECT_EQ(e.creation, src.times.creation);
            std::string target = path("out/" + std::to_string(i));
            fs::create_directories(path("out"));
            bool crc_ok = false;
            ASSERT_EQ(r.extract_entry(i, target, {}, &crc_ok), SafExtractResult::Extracted);
            EXPECT_TRUE(crc_ok);
            platform::FileInfo out;
            ASSERT_TRUE(platform::stat_path(target, out));
            EXPECT_EQ(read_file(target), read_file(files[i])) << files[i];
            EXPECT_EQ(out.times.last_write, e.last_write);
            EXPECT_EQ(out.times.last_access, e.last_access);
            EXPECT_EQ(out.attributes & platform::kAttrReadOnly,
                      src.attributes & platform::kAttrReadOnly);
        }
        const SafEntry& d = r.entry(static_cast<uint32_t>(files.size()));
        EXPECT_EQ(d.type, saf::kTypeDirectory);
        EXPECT_EQ(r.extract_entry(d.number, path("out/folder")), SafExtractResult::Extracted);
        EXPECT_TRUE(fs::is_directory(path("out/folder")));
        EXPECT_EQ(r.entry(d.number + 1).type, saf::kTypeTrailer);
        r.close();
        test::remove_tree(path("src"));
        test::remove_tree(path("out"));
    }
}

TEST_F(SafReaderTest, AWrongPasswordIsRefusedBeforeAnyEntryIsRead) {
    std::string f = write_file("src/a", "secret data");
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "right"));
    ASSERT_TRUE(test::save_file(w, f));
    ASSERT_TRUE(w.close_archive());

    SafReader r;
    r.open(archive());
    int32_t code = 0;
    EXPECT_EQ(message_of([&] { r.extract_entry(0, path("out")); }, &code),
              "Invalid password for encrypted SAF file");
    EXPECT_FALSE(fs::exists(path("out")));

    // With the first data header spoilt, the password still fails first.
    std::string bytes = read_file(archive());
    bytes[56] = 'X';
    test::write_whole_file(archive(), bytes);
    r.open(archive());
    EXPECT_EQ(message_of([&] { r.set_password("wrong"); }, &code),
              "Invalid password for encrypted SAF file");
    EXPECT_EQ(code, OPERATION_FAILED);
    EXPECT_EQ(r.error_code(), 34);
    r.set_password("right");
    EXPECT_EQ(message_of([&] { r.entry(0); }), "Bad MAGIC value in data header");
    EXPECT_EQ(r.error_code(), 31);
}

TEST_F(SafReaderTest, HeadersThatDoNotFitAreRefusedWithTheDesignedTexts) {
    std::vector<RawEntry> six(6);
    for (int i = 0; i < 6; ++i) six[i].name = "/f" + std::to_string(i);
    six[4].number = 5;
    test::write_whole_file(archive(), build(six));
    SafReader r;
    r.open(archive());
    // The entries before the damage stay readable.
    EXPECT_EQ(r.entry(3).name, "/f3");
    EXPECT_EQ(message_of([&] { r.entry(4); }), "Read failed on SAF file");

    struct Case {
        const char* what;
        std::vector<RawEntry> entries;
    };
    std::vector<Case> load_failures = {
        {"name of 4097 bytes", {RawEntry{"/" + std::string(4096, 'n')}}},
        {"zero byte in the name", {RawEntry{std::string("/a\0b", 4)}}},
    };
    for (auto& c : load_failures) {
        test::write_whole_file(archive(), build(c.entries));
        r.open(archive());
        EXPECT_EQ(message_of([&] { r.entry(0); }), "Can't load data headers from SAF file")
            << c.what;
        EXPECT_EQ(r.error_code(), 30);
    }
    // 4096 bytes of name are still fine.
    test::write_whole_file(archive(), build({RawEntry{"/" + std::string(4095, 'n')}}));
    r.open(archive());
    EXPECT_EQ(r.entry(0).name.size(), 4096u);

    // Lengths reaching past the end, and a count no file of this size holds.
    std::string good = build({RawEntry{"/a", 0x10, "hello", 5}});
    std::string bytes = good;
    test::put32(bytes, 56 + 16, 6);  // stored length one too long
    test::write_whole_file(archive(), bytes);
    r.open(archive());
    EXPECT_EQ(message_of([&] { r.entry(0); }), "Can't load data headers from SAF file");
    bytes = good;
    test::put32(bytes, 56 + 44, 0xFFFFFFFFu);  // extra text
    test::write_whole_file(archive(), bytes);
    r.open(archive());
    EXPECT_EQ(message_of([&] { r.entry(0); }), "Can't load data headers from SAF file");
    bytes = good;
    test::put32(bytes, 16, 0xFFFFFFFFu);
    test::write_whole_file(archive(), bytes);
    r.open(archive());
    EXPECT_EQ(r.entry(0).name, "/a");
    EXPECT_EQ(message_of([&] { r.entry(2); }), "Can't load data headers from SAF file");
    // An index beyond the count.
    test::write_whole_file(archive(), good);
    r.open(archive());
    EXPECT_EQ(r.entry(0).name, "/a");
    EXPECT_EQ(message_of([&] { r.entry(1); }), "Read failed on SAF file");
}

TEST_F(SafReaderTest, OpeningRefusesWhatIsNotAReadableArchive) {
    SafReader r;
    EXPECT_EQ(message_of([&] { r.open(path("missing")); }), "Couldn't open SAF file");
    test::write_whole_file(archive(), "SAF");
    EXPECT_EQ(message_of([&] { r.open(archive()); }), "Couldn't open SAF file");
    test::write_whole_file(archive(), std::string(200, 'z'));
    EXPECT_EQ(message_of([&] { r.open(archive()); }), "Couldn't open SAF file");
    std::string v3 = build({});
    test::put16(v3, 4, 3);
    test::write_whole_file(archive(), v3);
    EXPECT_EQ(message_of([&] { r.open(archive()); }), "Unrecognized file version");
    EXPECT_FALSE(r.is_open());
    // A FIFO named like an archive must not block the reader.
    ASSERT_EQ(::mkfifo(path("fifo.SAF").c_str(), 0600), 0);
    EXPECT_EQ(message_of([&] { r.open(path("fifo.SAF")); }), "Couldn't open SAF file");
}

TEST_F(SafReaderTest, OlderArchivesWithTheShortHeaderAreRead) {
    const uint64_t t = 133000000000000000ULL;
    test::write_whole_file(
        archive(), build({RawEntry{"/old/a.txt", 0x10, "hello", 5, t},
                          RawEntry{"/old/dir", 0x20, "", 0, 0}, RawEntry{"", 0x60, "", 0, 0}},
                         1));
    SafReader r;
    r.open(archive());
    EXPECT_EQ(r.version(), 1u);
    ASSERT_EQ(r.entry_count(), 3u);
    const SafEntry& e = r.entry(0);
    EXPECT_EQ(e.name, "/old/a.txt");
    EXPECT_EQ(e.last_write, t);
    EXPECT_EQ(e.creation, t);
    EXPECT_EQ(e.last_access, t);
    EXPECT_EQ(r.entry(1).type, saf::kTypeDirectory);
    ASSERT_EQ(r.extract_entry(0, path("a.txt")), SafExtractResult::Extracted);
    EXPECT_EQ(read_file(path("a.txt")), "hello");
    r.close();
    // The reader never rewrites an archive.
    EXPECT_EQ(read_file(archive()).size(), 56u + 3 * 72 + 11 + 9 + 1 + 5);
}

TEST_F(SafReaderTest, ExtractionWritesOnlyTheTargetItIsGiven) {
    std::string f = write_file("src/a.txt", "content");
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, f));
    ASSERT_TRUE(w.close_archive());
    fs::remove(f);
    SafReader r;
    r.open(archive());
    // No folder is created for the target, and the name is never used.
    EXPECT_EQ(r.extract_entry(0, path("no/such/folder/a.txt")), SafExtractResult::TargetNotCreated);
    EXPECT_FALSE(fs::exists(path("no")));
    EXPECT_FALSE(fs::exists(f));
    // A symbolic link at the target is replaced, not followed.
    std::string victim = write_file("victim", "keep me");
    fs::create_symlink(victim, path("link"));
    ASSERT_EQ(r.extract_entry(0, path("link")), SafExtractResult::Extracted);
    EXPECT_EQ(read_file(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(path("link")));
    EXPECT_EQ(read_file(path("link")), "content");
    // A folder in the way cannot be replaced: skipped.
    fs::create_directories(path("dir"));
    EXPECT_EQ(r.extract_entry(0, path("dir")), SafExtractResult::TargetNotCreated);
}

TEST_F(SafReaderTest, CorruptDataNeitherOverrunsNorLeavesAHalfFile) {
    std::string text = test::prose(300000);
    std::string f = write_file("src/a.txt", text);
    std::string z = write_file("src/b.zip", text);
    SafWriter w;
    ASSERT_TRUE(w.create_archive(archive()));
    ASSERT_TRUE(test::save_file(w, f));
    ASSERT_TRUE(test::save_file(w, z));
    ASSERT_TRUE(w.close_archive());
    std::string good = read_file(archive());

    // The compressed stream yields more than the header claims.
    std::string bytes = good;
    test::put32(bytes, 56 + 24, 1000);
    test::write_whole_file(archive(), bytes);
    SafReader r;
    r.open(archive());
    int32_t code = 0;
    EXPECT_EQ(message_of([&] { r.extract_entry(0, path("out")); }, &code),
              "Bad data in decompression");
    EXPECT_EQ(code, BAD_DATA);
    EXPECT_FALSE(fs::exists(path("out")));
    // Over a file that is already there, the failure leaves that file alone,
    // and no temporary beside it.
    write_file("kept", "the version already restored");
    EXPECT_EQ(message_of([&] { r.extract_entry(0, path("kept")); }), "Bad data in decompression");
    EXPECT_EQ(read_file(path("kept")), "the version already restored");
    size_t files = 0;
    for (auto& entry : fs::directory_iterator(scratch())) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);  // the archive and "kept"

    // A changed byte of stored data comes out, but the CRC says so.
    bytes = good;
    const SafEntry second = [&] {
        test::write_whole_file(archive(), good);
        r.open(archive());
        return r.entry(1);
    }();
    bytes[second.data_offset + 100] ^= 0x20;
    test::write_whole_file(archive(), bytes);
    r.open(archive());
    bool crc_ok = true;
    ASSERT_EQ(r.extract_entry(1, path("out"), {}, &crc_ok), SafExtractResult::Extracted);
    EXPECT_FALSE(crc_ok);
}

// Opens, lists and extracts whatever it can; only MyError may come out.
void read_everything(const std::string& arc, const std::string& target, bool* listed) {
    *listed = false;
    SafReader r;
    try {
        r.open(arc);
        r.set_password("pw");
        for (uint32_t i = 0; i < r.entry_count(); ++i) r.entry(i);
        *listed = true;
        for (uint32_t i = 0; i < r.entry_count(); ++i) {
            try {
                r.extract_entry(i, target);
            } catch (const MyError&) {
            }
        }
    } catch (const MyError&) {
    }
}

TEST_F(SafReaderTest, TruncatedAndFlippedArchivesGiveAnErrorOrAListing) {
    std::vector<std::string> files = {write_file("src/a.txt", test::prose(3000)),
                                      write_file("src/b.zip", test::random_text(700, 2)),
                                      write_file("src/c", "")};
    for (bool encoded : {false, true}) {
        SafWriter w;
        ASSERT_TRUE(w.create_archive(archive()));
        if (encoded) {
            ASSERT_TRUE(w.set_encoding(SafEncoding::PasswordStream, "pw"));
        }
        for (auto& f : files) ASSERT_TRUE(test::save_file(w, f));
        ASSERT_TRUE(w.add_directory_entry(path("src")));
        ASSERT_TRUE(w.close_archive());
        const std::string good = read_file(archive());
        const std::string copy = path("work/copy.SAF"), target = path("work/target");
        fs::create_directories(path("work"));

        bool listed = false;
        for (size_t cut = 0; cut < good.size(); cut += 97) {
            test::write_whole_file(copy, good.substr(0, cut));
            read_everything(copy, target, &listed);
            EXPECT_FALSE(listed) << "cut at " << cut;  // the trailer is always lost
        }
        // Every byte of every header and name, flipped.
        SafReader r;
        r.open(archive());
        std::vector<std::pair<uint64_t, uint64_t>> heads = {{0, 56}};
        for (uint32_t i = 0; i < r.entry_count(); ++i)
            heads.emplace_back(r.entry(i).position, r.entry(i).data_offset);
        r.close();
        for (auto [from, to] : heads) {
            for (uint64_t at = from; at < to; ++at) {
                for (uint8_t mask : {0x01, 0x80, 0xFF}) {
                    std::string bad = good;
                    bad[at] = static_cast<char>(bad[at] ^ mask);
                    test::write_whole_file(copy, bad);
                    read_everything(copy, target, &listed);
                }
            }
        }
        // Only the target was ever written beside the copy.
        std::set<std::string> names;
        for (auto& e : fs::directory_iterator(path("work"))) names.insert(e.path().filename());
        names.erase("target");
        EXPECT_EQ(names, std::set<std::string>{"copy.SAF"});
        test::remove_tree(path("work"));
    }
}

}  // namespace
}  // namespace vardel
