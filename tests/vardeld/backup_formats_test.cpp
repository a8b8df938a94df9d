// End to end, per format: a tree of 2 000 files (empty to 2 MiB, nested and
// hidden folders, names with blanks and UTF-8) is backed up and read back,
// byte for byte, with the password stream on and off.
#include <filesystem>
#include <random>

#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "tests/support/tiny_fs.h"
#include "tests/vardeld/saving_support.h"
#include "vardeld/service_messages.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

struct Tree {
    std::map<std::string, std::string> files;  // path below the root -> bytes
    std::set<std::string> empty_folders;       // below the root, no trailing "/"
};

Tree make_tree(const std::string& root) {
    Tree t;
    std::mt19937 rng(20240611);
    static const char* const folders[] = {"alpha", "beta gamma", "Ünïcødé ørdner", ".hidden dir",
                                          "d4"};
    static const char* const subs[] = {"", "/sub one", "/.cache", "/deep/er/still", "/日本語"};
    for (int i = 0; i < 2000; ++i) {
        std::string dir = std::string(folders[i % 5]) + subs[(i / 5) % 5];
        std::string name;
        switch (i % 4) {
            case 0:
                name = strprintf("file %d.txt", i);
                break;
            case 1:
                name = strprintf("Grüße %d — ü.dat", i);
                break;
            case 2:
                name = strprintf(".hidden %d", i);
                break;
            default:
                name = strprintf("plain%d.bin", i);
                break;
        }
        size_t size;
        if (i == 0)
            size = 2u << 20;
        else if (i % 13 == 0)
            size = 0;
        else if (i % 150 == 7)
            size = std::uniform_int_distribution<size_t>(100000, 2u << 20)(rng);
        else
            size = std::uniform_int_distribution<size_t>(1, 12000)(rng);
        std::string bytes(size, '\0');
        if (i % 2) {
            for (char& c : bytes) c = static_cast<char>(rng());
        } else {
            // Text-like: compresses, so the coders' dictionaries fill and clear.
            static const char* const words[] = {"backup ", "cycle ", "archive ", "vardel\n",
                                                "0123 "};
            size_t k = 0;
            while (k < size) {
                const char* w = words[rng() % 5];
                for (const char* p = w; *p && k < size; ++p) bytes[k++] = *p;
            }
        }
        std::string rel = dir + "/" + name;
        test::write_whole_file(root + "/" + rel, bytes);
        t.files[rel] = std::move(bytes);
    }
    for (const char* e : {"empty", "alpha/empty ü", ".hidden empty"}) {
        fs::create_directories(root + "/" + e);
        t.empty_folders.insert(e);
    }
    return t;
}

// One tree for every format and both encodings: writing and removing 2 000
// files costs more than backing them up. On a tmpfs where one can be
// mounted, which removes them all at once.
class BackupFormats : public test::SavingTest {
  protected:
    void check_format(int format, bool encode);

    std::string root_;
    Tree tree_;
};

TEST_F(BackupFormats, EveryFormatReadsBackATreeByteForByte) {
    test::TinyFs fast(path("fast"), 256u << 20);
    std::string base = fast.ok() ? fast.dir() : path("fast");
    root_ = base + "/data";
    set.BackupDestination = base + "/dest";
    tree_ = make_tree(root_);
    for (int format : {SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE}) {
        for (bool encode : {false, true}) {
            SCOPED_TRACE(strprintf("format %d, encoded %d", format, encode ? 1 : 0));
            check_format(format, encode);
            if (HasFatalFailure()) return;
            test::remove_tree(set.BackupDestination);
        }
    }
}

void BackupFormats::check_format(int format, bool encode) {
    const std::string password = encode ? "Geheim wört" : "";
    const Tree& tree = tree_;
    set.BackupDirs = root_;
    set.SaveFormat = format;
    set.IncludeHiddenFiles = true;
    set.PasswordEncode = encode;
    general.EncodingPassword = "Geheim wört";
    general.FileChangeHandling = CHANGE_TRY_AGAIN_LATER;
    general.FileValidationLevel = VALIDATION_FULL_READBACK;
    general.FileChangeRetries = 2;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(files_saved, 2000);
    EXPECT_TRUE(not_backed_up().empty());

    // What each format holds, named below the root as in the tree.
    std::map<std::string, std::string> got;
    std::set<std::string> folders;
    const std::string root = root_ + "/";
    const std::string out = set.BackupDestination + "/";
    if (format == SAVE_SAF) {
        test::Contents c = test::read_saf(out + "B1_1.SAF", password, scratch());
        for (auto& [name, bytes] : c.files) {
            ASSERT_EQ(name.rfind(root, 0), 0u) << name;
            got[name.substr(root.size())] = std::move(bytes);
        }
        for (const std::string& f : c.folders) folders.insert(f.substr(root.size()));
    } else if (format == SAVE_ZIP) {
        const std::string zroot = root.substr(1);
        test::Contents c = test::read_zip(out + "B1_1.ZIP", password, scratch());
        for (auto& [name, bytes] : c.files) {
            ASSERT_EQ(name.rfind(zroot, 0), 0u) << name;
            got[name.substr(zroot.size())] = std::move(bytes);
        }
        for (const std::string& f : c.folders)
            folders.insert(f.substr(zroot.size(), f.size() - zroot.size() - 1));
        if (encode) {
            // Any ZIP tool extracts the encoded bytes.
            test::Contents raw = test::read_zip(out + "B1_1.ZIP", "", scratch());
            const std::string first = "alpha/file 0.txt";
            EXPECT_EQ(raw.files[zroot + first], test::encoded(tree.files.at(first), password));
        }
    } else {
        test::Contents c = test::read_copies(out + "B1_1", password);
        got = std::move(c.files);
        folders = std::move(c.folders);
        if (encode) {
            const std::string first = "alpha/file 0.txt";
            EXPECT_NE(read_file(out + "B1_1/" + first), tree.files.at(first));
        }
    }
    ASSERT_EQ(got.size(), tree.files.size());
    for (const auto& [rel, bytes] : tree.files) {
        auto it = got.find(rel);
        ASSERT_NE(it, got.end()) << rel;
        ASSERT_EQ(it->second.size(), bytes.size()) << rel;
        ASSERT_TRUE(it->second == bytes) << rel;
    }
    EXPECT_EQ(folders, tree.empty_folders);
}

}  // namespace
}  // namespace vardel
