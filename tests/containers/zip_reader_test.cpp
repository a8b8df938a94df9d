#include "containers/zip_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>

#include "containers/zip_writer.h"
#include "platform/file_info.h"
#include "tests/containers/zip_tools.h"
#include "tests/support/scratch.h"
#include "tests/support/test_data.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using test::run_shell;

std::vector<std::string> entries_in_folder(const std::string& dir) {
    std::vector<std::string> v;
    for (auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
    return v;
}

class ZipReaderTest : public test::ScratchTest {
  protected:
    // A small tree inside scratch()/src with known contents, modes and times.
    std::map<std::string, std::string> make_tree() {
        std::map<std::string, std::string> files = {
            {"src/a.txt", test::prose(200000)},
            {"src/sub/b.bin", test::random_text(100000, 4)},
            {"src/sub/packed.zip", test::random_text(3000, 5)},
            {"src/empty", ""},
            {"src/.hidden", "dot"},
        };
        for (auto& [rel, data] : files) write_file(rel, data);
        fs::create_directories(path("src/nothing"));
        ::chmod(path("src/sub/b.bin").c_str(), 0600);
        uint64_t when = platform::filetime_from_unix(1600000000, 0);
        platform::set_file_times(path("src/a.txt"), when, when);
        return files;
    }
};

TEST_F(ZipReaderTest, ListsAndExtractsArchivesMadeByInfoZip) {
    auto files = make_tree();
    // Three shapes Info-ZIP writes: plain, forced ZIP64 fields, and streamed
    // to a pipe (sizes in data descriptors after the data).
    ASSERT_EQ(run_shell("cd '" + scratch() +
                        "' && zip -q -r plain.zip src && zip -q -r -fz z64.zip src && " +
                        "zip -q -r - src > streamed.zip")
                  .exit_code,
              0);
    for (const char* name : {"plain.zip", "z64.zip", "streamed.zip"}) {
        SCOPED_TRACE(name);
        ZipResult res = 0x7A;
        auto r = ZipReader::open(path(name), &res);
        ASSERT_TRUE(r);
        EXPECT_EQ(res, ZR_OK);
        std::map<std::string, const ZipEntryInfo*> by_name;
        for (size_t i = 0; i < r->entry_count(); ++i) by_name[r->entry(i)->name] = r->entry(i);
        EXPECT_EQ(r->entry(r->entry_count()), nullptr);
        for (const char* dir : {"src/", "src/sub/", "src/nothing/"}) {
            ASSERT_TRUE(by_name.count(dir)) << dir;
            EXPECT_TRUE(by_name[dir]->attributes & platform::kAttrDirectory) << dir;
        }
        ASSERT_EQ(by_name.size(), files.size() + 3);
        EXPECT_EQ(by_name["src/a.txt"]->last_write, platform::filetime_from_unix(1600000000, 0));
        EXPECT_EQ(by_name["src/sub/b.bin"]->unix_mode & 0777, 0600u);
        EXPECT_TRUE(by_name["src/.hidden"]->attributes & platform::kAttrHidden);
        EXPECT_EQ(by_name["src/a.txt"]->attributes, platform::kAttrNormal);
        EXPECT_EQ(by_name["src/sub/packed.zip"]->method, 0u) << "Info-ZIP stores .zip too";
        EXPECT_EQ(by_name["src/a.txt"]->method, 8u);

        std::string out = path(std::string("out-") + name);
        fs::create_directories(out);
        for (size_t i = 0; i < r->entry_count(); ++i) {
            const ZipEntryInfo* e = r->entry(i);
            if (e->attributes & platform::kAttrDirectory) continue;
            std::string target = out + "/" + std::to_string(i);
            ASSERT_EQ(r->extract(i, target), ZR_OK) << e->name;
            EXPECT_EQ(read_file(target), files[e->name]) << e->name;
        }
        platform::FileInfo fi;
        size_t a_index = 0;
        while (r->entry(a_index)->name != "src/a.txt") ++a_index;
        ASSERT_TRUE(platform::stat_path(out + "/" + std::to_string(a_index), fi));
        EXPECT_EQ(fi.mtime_sec, 1600000000);
    }
}

TEST_F(ZipReaderTest, OurArchivesRoundTripAndTheBlockHookDecodesThem) {
    std::string plain = test::prose(700000);
    std::string src = write_file("src/enc.txt", plain);
    std::atomic<bool> abort{false};
    PasswordStream stream("pw");
    {
        auto w = ZipWriter::create(path("B1_2.ZIP"));
        ASSERT_TRUE(w);
        ZipReadHook hook(abort, &stream);
        ASSERT_EQ(w->add_file(src, src, hook), ZR_OK);
        ASSERT_EQ(w->add_folder(path("src")), ZR_OK);
        ASSERT_EQ(w->close(), ZR_OK);
    }
    auto r = ZipReader::open(path("B1_2.ZIP"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->entry_count(), 2u);
    EXPECT_EQ(r->entry(0)->name, src.substr(1));
    EXPECT_EQ(r->entry(1)->name, path("src").substr(1) + "/");
    EXPECT_TRUE(r->entry(1)->attributes & platform::kAttrDirectory);
    platform::FileInfo fi;
    ASSERT_TRUE(platform::stat_path(src, fi));
    EXPECT_EQ(r->entry(0)->last_write, platform::filetime_from_unix(fi.mtime_sec, 0));

    PasswordStream decode("pw");
    decode.restart();
    ASSERT_EQ(
        r->extract(0, path("restored.txt"),
                   [&](void* p, size_t n) { decode.encode(p, static_cast<std::ptrdiff_t>(n)); }),
        ZR_OK);
    EXPECT_EQ(read_file(path("restored.txt")), plain);
    ASSERT_EQ(r->extract(0, path("raw.txt")), ZR_OK);
    EXPECT_NE(read_file(path("raw.txt")), plain);
    EXPECT_EQ(r->extract(1, path("folder")), ZR_OK);
    EXPECT_TRUE(fs::is_directory(path("folder")));

    // An archive with nothing in it opens and has no entries.
    ZipWriter::create(path("empty.zip"))->close();
    auto e = ZipReader::open(path("empty.zip"));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->entry_count(), 0u);
}

// Large backups put entries beyond 4 GB, where the local header's offset
// lives in the ZIP64 field; the same fields appear here in a small archive.
TEST_F(ZipReaderTest, ReachesEntriesWhoseOffsetsAndSizesAreInZip64Fields) {
    std::string zip = path("z64.zip");
    auto py = test::run_python(R"(
import io, struct, sys, zipfile
buf = io.BytesIO()
with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.txt", "hello " * 1000)
    z.writestr("b.txt", "world " * 1000)
    z.writestr(zipfile.ZipInfo("c.bin"), bytes(range(256)) * 4, zipfile.ZIP_STORED)
data = bytearray(buf.getvalue())
end = data.rfind(b"PK\x05\x06")
size, at = struct.unpack("<II", data[end + 12:end + 20])
cd = data[at:at + size]
out = bytearray(); p = 0; n = 0
while p < len(cd):
    fixed = bytearray(cd[p:p + 46])
    nl, xl, cl = struct.unpack("<HHH", fixed[28:34])
    name = cd[p + 46:p + 46 + nl]
    csize, usize = struct.unpack("<II", fixed[20:28])
    off = struct.unpack("<I", fixed[42:46])[0]
    z64 = b""
    if n >= 1:   # b and c: size, compressed size and offset in the ZIP64 field
        z64 = struct.pack("<QQQ", usize, csize, off)
        fixed[20:28] = struct.pack("<II", 0xFFFFFFFF, 0xFFFFFFFF)
        fixed[42:46] = struct.pack("<I", 0xFFFFFFFF)
    extra = cd[p + 46 + nl:p + 46 + nl + xl] + (struct.pack("<HH", 1, len(z64)) + z64 if z64 else b"")
    fixed[30:32] = struct.pack("<H", len(extra))
    out += fixed + name + extra + cd[p + 46 + nl + xl:p + 46 + nl + xl + cl]
    p += 46 + nl + xl + cl; n += 1
new = data[:at] + out + data[end:end + 12] + struct.pack("<II", len(out), at) + data[end + 20:]
open(sys.argv[1], "wb").write(new)
print(zipfile.ZipFile(sys.argv[1]).testzip())
)",
                               {zip});
    ASSERT_EQ(py.out, "None\n") << py.err;
    auto r = ZipReader::open(zip);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->entry_count(), 3u);
    EXPECT_EQ(r->entry(1)->size, 6000u);
    EXPECT_EQ(r->entry(2)->size, 1024u);
    ASSERT_EQ(r->extract(1, path("b.txt")), ZR_OK);
    EXPECT_EQ(read_file(path("b.txt")), std::string([] {
                  std::string s;
                  for (int i = 0; i < 1000; ++i) s += "world ";
                  return s;
              }()));
    ASSERT_EQ(r->extract(2, path("c.bin")), ZR_OK);
    EXPECT_EQ(read_file(path("c.bin")).size(), 1024u);
    EXPECT_EQ(read_file(path("c.bin"))[255], '\xff');
    ASSERT_EQ(r->extract(0, path("a.txt")), ZR_OK);

    // More than 65535 entries: the counts are in the ZIP64 end records.
    std::string many = path("many.zip");
    ASSERT_EQ(test::run_python(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for i in range(70000):
        z.writestr("d/%05d" % i, str(i))
)",
                               {many})
                  .exit_code,
              0);
    auto m = ZipReader::open(many);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->entry_count(), 70000u);
    EXPECT_EQ(m->entry(69999)->name, "d/69999");
    ASSERT_EQ(m->extract(69999, path("last")), ZR_OK);
    EXPECT_EQ(read_file(path("last")), "69999");
}

TEST_F(ZipReaderTest, BadArchivesGiveResultCodesAndBadEntriesLeaveTheTargetAlone) {
    ZipResult res = ZR_OK;
    EXPECT_EQ(ZipReader::open(path("missing.zip"), &res), nullptr);
    EXPECT_EQ(res, ZR_NOFILE);
    EXPECT_EQ(ZipReader::open(scratch(), &res), nullptr);
    EXPECT_EQ(res, ZR_NOFILE);
    EXPECT_EQ(ZipReader::open(write_file("empty.zip", ""), &res), nullptr);
    EXPECT_EQ(res, ZR_CORRUPT);
    EXPECT_EQ(ZipReader::open(write_file("garbage.zip", test::random_text(5000, 7)), &res),
              nullptr);
    EXPECT_EQ(res, ZR_CORRUPT);

    auto files = make_tree();
    ASSERT_EQ(run_shell("cd '" + scratch() + "' && zip -q -r good.zip src").exit_code, 0);
    std::string good = read_file(path("good.zip"));
    // Cut short: the central directory is gone.
    EXPECT_EQ(ZipReader::open(write_file("half.zip", good.substr(0, good.size() / 2)), &res),
              nullptr);
    EXPECT_EQ(res, ZR_CORRUPT);
    char text[64];
    zip_result_text(res, text, sizeof text);
    EXPECT_STREQ(text, "Zipfile is corrupt or not a zipfile");

    // Damaged data: a deflated and a stored entry with one byte changed.
    auto r0 = ZipReader::open(path("good.zip"));
    ASSERT_TRUE(r0);
    std::string damaged = good;
    for (const char* name : {"src/a.txt", "src/sub/packed.zip"}) {
        size_t at = damaged.find(name);  // the local header's name
        ASSERT_NE(at, std::string::npos);
        damaged[at + std::strlen(name) + 40] ^= 0x55;
    }
    std::string bad = write_file("bad.zip", damaged);
    auto r = ZipReader::open(bad);
    ASSERT_TRUE(r) << "the directory is intact";
    std::string dest = path("dest");
    fs::create_directories(dest);
    test::write_whole_file(dest + "/keep", "the file that was there");
    size_t tried = 0;
    for (size_t i = 0; i < r->entry_count(); ++i) {
        const std::string& n = r->entry(i)->name;
        if (n != "src/a.txt" && n != "src/sub/packed.zip") continue;
        ++tried;
        EXPECT_EQ(r->extract(i, dest + "/keep"), ZR_CORRUPT) << n;
        r->result_text(ZR_RECENT, text, sizeof text);
        EXPECT_STREQ(text, "Zipfile is corrupt or not a zipfile");
    }
    EXPECT_EQ(tried, 2u);
    EXPECT_EQ(read_file(dest + "/keep"), "the file that was there");
    EXPECT_EQ(entries_in_folder(dest), std::vector<std::string>{"keep"})
        << "no temporary file left";

    EXPECT_EQ(r->extract(r->entry_count(), dest + "/x"), ZR_ARGS);
    size_t file_index = 0;
    while (r->entry(file_index)->attributes & platform::kAttrDirectory) ++file_index;
    EXPECT_EQ(r->extract(file_index, path("no/such/folder/x")), ZR_NOFILE);
}

}  // namespace
}  // namespace vardel
