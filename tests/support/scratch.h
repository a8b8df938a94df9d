#pragma once
// Every test gets its own scratch folder and its own VARDEL_ROOT inside it,
// so tests never touch the machine's install and run side by side.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace vardel::test {

class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The test's own folder, removed after the test unless it failed.
    const std::string& scratch() const { return scratch_; }
    // scratch() + "/" + rel
    std::string path(std::string_view rel) const;
    // Writes a file (creating its folders) and returns its path.
    std::string write_file(std::string_view rel, std::string_view content);
    std::string read_file(const std::string& path) const;

  private:
    std::string scratch_;
};

// A scratch folder outside any fixture.
std::string make_temp_dir(const char* prefix = "vardel-test");
void remove_tree(const std::string& path);
std::string read_whole_file(const std::string& path);
void write_whole_file(const std::string& path, std::string_view content);

// Paths of programs built into this tree: program_path("vardeld").
std::string program_path(const std::string& name);

}  // namespace vardel::test
