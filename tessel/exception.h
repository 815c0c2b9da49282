// The error classes of the whole system. what() is the category, "[", the
// message and "]"; each derived class appends "." and its short name to the
// category of its base.
#pragma once

#include <exception>
#include <string>

namespace tessel {

class exception : public std::exception {
public:
    explicit exception(const std::string& message);
    // The message is the formatted text (narrow dialect of tessel::format).
    explicit exception(const char* format, ...);
    exception(const exception& other);
    ~exception() override;

    const char* what() const noexcept override;
    virtual const char* message() const;
    virtual const char* category() const;

protected:
    // Appends "." (when the category is not empty) and the short name.
    void extend_category(const char* short_name);

    mutable std::string what_text_;
    mutable std::string message_;
    mutable std::string category_;
};

// Carries wide texts; the narrow ones are derived once, leniently, from the
// ANSI code page when first asked for.
class exception_w : public exception {
public:
    // The wide message is the formatted text (wide dialect of tessel::format).
    explicit exception_w(const wchar_t* format, ...);
    exception_w(const exception_w& other);
    ~exception_w() override;

    const char* what() const noexcept override;
    const char* message() const override;
    const char* category() const override;
    virtual const wchar_t* what_w() const;
    virtual const wchar_t* message_w() const;
    virtual const wchar_t* category_w() const;

private:
    void fill_narrow() const;

    mutable std::wstring what_text_w_;
    std::wstring message_w_;
    std::wstring category_w_;
    mutable bool narrow_filled_ = false;
};

// Declares an error class derived from Base that appends ShortName to the
// category and otherwise adds nothing.
#define TESSEL_DECLARE_ERROR(Name, Base, ShortName)                 \
    class Name : public Base {                                       \
    public:                                                          \
        explicit Name(const std::string& message) : Base(message) {  \
            extend_category(ShortName);                              \
        }                                                            \
        Name(const Name&) = default;                                 \
        ~Name() override = default;                                  \
    }

}  // namespace tessel
