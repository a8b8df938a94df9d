#include "common/mystring.h"

#include <cstdio>
#include <memory>

#include "common/my_error.h"
#include "common/text_helpers.h"

namespace vardel {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

MyString::MyString() : capacity_(16) {
    data_.reserve(16);
}

MyString::MyString(const char* text) : MyString(std::string_view(text ? text : "")) {}

MyString::MyString(std::string_view text) : data_(text), capacity_(text.size()) {
    if (text.empty()) {
        capacity_ = 16;
        data_.reserve(16);
    }
}

MyString::MyString(const MyString& other)
    : data_(other.data_),
      capacity_(other.data_.empty() ? 16 : other.data_.size()),
      case_mode_(other.case_mode_) {}

MyString& MyString::operator=(const MyString& other) {
    if (this != &other) {
        assign(other.data_);
        case_mode_ = other.case_mode_;
    }
    return *this;
}

MyString& MyString::operator=(std::string_view text) {
    assign(text);
    return *this;
}

void MyString::grow_to(size_t n) {
    if (n > capacity_) {
        capacity_ = n;
        data_.reserve(n);
    }
}

void MyString::assign(std::string_view text) {
    grow_to(text.size());
    data_.assign(text.data(), text.size());
}

MyString& MyString::append(std::string_view text) {
    grow_to(data_.size() + text.size());
    data_.append(text.data(), text.size());
    return *this;
}

MyString& MyString::append(char c) {
    return append(std::string_view(&c, 1));
}

int MyString::compare(std::string_view other) const {
    if (case_mode_ == CaseMode::Sensitive) {
        int c = std::string_view(data_).compare(other);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return icompare(data_, other);
}

void MyString::set_capacity(size_t n) {
    grow_to(n);
}

size_t MyString::count_lines() const {
    size_t n = 0;
    for_each_line(data_, [&](std::string_view) {
        ++n;
        return true;
    });
    return n;
}

const char* MyString::line(size_t n) {
    if (n == 0) return nullptr;
    size_t i = 0;
    bool found = false;
    for_each_line(data_, [&](std::string_view l) {
        if (++i == n) {
            scratch_.assign(l);
            found = true;
            return false;
        }
        return true;
    });
    return found ? scratch_.c_str() : nullptr;
}

const char* MyString::field(size_t n, char sep) {
    if (n == 0) return nullptr;
    size_t start = 0;
    for (size_t i = 1;; ++i) {
        size_t end = data_.find(sep, start);
        if (i == n) {
            scratch_.assign(data_, start,
                            end == std::string::npos ? std::string::npos : end - start);
            return scratch_.c_str();
        }
        if (end == std::string::npos) return nullptr;
        start = end + 1;
    }
}

std::string_view MyString::last(size_t n) const {
    std::string_view v(data_);
    return n >= v.size() ? v : v.substr(v.size() - n);
}

const char* MyString::first(size_t n) {
    if (n >= data_.size()) throw MyError(INVALID_PARAMETERS, "Bad position");
    scratch_.assign(data_, 0, n);
    return scratch_.c_str();
}

char MyString::at(size_t pos) const {
    if (pos >= data_.size()) throw MyError(INVALID_PARAMETERS, "Bad position");
    return data_[pos];
}

void MyString::replace(std::string_view from, std::string_view to) {
    if (from.empty()) return;
    std::string out;
    size_t i = 0;
    while (i < data_.size()) {
        std::string_view rest(data_.data() + i, data_.size() - i);
        bool hit = rest.size() >= from.size() &&
                   (case_mode_ == CaseMode::Sensitive ? rest.substr(0, from.size()) == from
                                                      : iequals(rest.substr(0, from.size()), from));
        if (hit) {
            out.append(to);
            i += from.size();
        } else {
            out.push_back(data_[i++]);
        }
    }
    assign(out);
}

void MyString::replace(char from, char to) {
    for (char& c : data_)
        if (c == from) c = to;
}

void MyString::trim(TrimMode mode) {
    size_t b = 0, e = data_.size();
    if (mode != TrimMode::End)
        while (b < e && is_blank(data_[b])) ++b;
    if (mode != TrimMode::Start)
        while (e > b && is_blank(data_[e - 1])) --e;
    std::string out;
    out.reserve(e - b);
    for (size_t i = b; i < e; ++i) {
        if (mode == TrimMode::Both && is_blank(data_[i])) {
            if (out.empty() || out.back() != ' ') out.push_back(' ');
        } else {
            out.push_back(data_[i]);
        }
    }
    data_.assign(out);
}

void MyString::insert(size_t pos, std::string_view text) {
    if (pos >= data_.size())
        throw MyError(INVALID_PARAMETERS, "Bad parameters in 'insert' function");
    grow_to(data_.size() + text.size());
    data_.insert(pos, text.data(), text.size());
}

bool MyString::read_text_file(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return false;
    assign("");
    char buf[1024];
    while (std::fgets(buf, sizeof buf, f.get())) {
        std::string_view l(buf);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r' || is_blank(l.back())))
            l.remove_suffix(1);
        add_line(l);
    }
    return true;
}

void MyString::add_line(std::string_view line) {
    if (!data_.empty()) append("\r\n");
    append(line);
}

}  // namespace vardel
