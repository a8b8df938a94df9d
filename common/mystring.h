#pragma once
// Module mystring: an owned, zero-terminated byte string whose capacity only
// grows, with a scratch buffer that the extracting operations (line n,
// field n, first n) return, and a case-sensitivity mark (off by default:
// comparisons and replace ignore ASCII case).
//
// A pointer returned from line/field/first stays valid until the next
// extracting call on the same string. Not thread-safe.
#include <cstddef>
#include <string>
#include <string_view>

namespace vardel {

enum class CaseMode { Insensitive, Sensitive };
enum class TrimMode { Start, End, Both };

class MyString {
  public:
    MyString();
    MyString(const char* text);  // NOLINT: made from text as freely as std::string
    MyString(std::string_view text);
    MyString(const MyString& other);
    MyString& operator=(const MyString& other);
    MyString& operator=(std::string_view text);

    void assign(std::string_view text);
    MyString& append(std::string_view text);
    MyString& append(char c);
    MyString& operator+=(std::string_view text) { return append(text); }

    void set_case_mode(CaseMode mode) { case_mode_ = mode; }
    CaseMode case_mode() const { return case_mode_; }
    bool equals(std::string_view other) const { return compare(other) == 0; }
    int compare(std::string_view other) const;
    bool operator==(std::string_view other) const { return equals(other); }

    size_t length() const { return data_.size(); }
    bool empty() const { return data_.empty(); }
    const char* text() const { return data_.c_str(); }
    std::string_view view() const { return data_; }
    const std::string& str() const { return data_; }

    size_t capacity() const { return capacity_; }
    // Keeps the content; never shrinks.
    void set_capacity(size_t n);

    // Lines end at "\r\n", "\r" or "\n". A trailing line end starts no line.
    size_t count_lines() const;
    // Line n (1-based), or nullptr when out of range.
    const char* line(size_t n);
    // Field n (1-based) split at `sep`, or nullptr when out of range.
    const char* field(size_t n, char sep);
    // The last n characters, the whole text when shorter.
    std::string_view last(size_t n) const;
    // The first n characters, 0 <= n < length; else throws MyError
    // INVALID_PARAMETERS "Bad position".
    const char* first(size_t n);
    // 0 <= pos < length, else MyError INVALID_PARAMETERS "Bad position".
    char at(size_t pos) const;

    // Every occurrence of `from` (ignoring case unless marked) becomes `to`,
    // scanning left to right; replaced text is not searched again.
    void replace(std::string_view from, std::string_view to);
    void replace(char from, char to);
    // Cuts blanks (space, tab); Both also folds every inner run to one blank.
    void trim(TrimMode mode);
    // 0 <= pos < length, else MyError INVALID_PARAMETERS
    // "Bad parameters in 'insert' function".
    void insert(size_t pos, std::string_view text);

    // Reads a text file as lines (each at most 1023 characters, trailing blanks
    // cut), joined by "\r\n". False when the file cannot be opened.
    bool read_text_file(const std::string& path);
    // Appends "\r\n" first unless the string is empty.
    void add_line(std::string_view line);

  private:
    void grow_to(size_t n);

    std::string data_;
    std::string scratch_;
    size_t capacity_;
    CaseMode case_mode_ = CaseMode::Insensitive;
};

}  // namespace vardel
