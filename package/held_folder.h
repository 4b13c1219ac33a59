// A folder held open, and what is done to the names inside it through the hold: nothing found
// there on the way is ever followed as a link.
#pragma once

#include <cstdint>
#include <string>

namespace package {

// A folder held open from Open to Close, so that nobody can rename or delete it, or put a link
// in its place, meanwhile (on Windows it is open without delete sharing; elsewhere the handle
// keeps naming the same folder even if it is moved). Move-only. Every `name` below is one
// name inside the folder, no folders.
class HeldFolder {
public:
    enum class Links { Follow, Refuse };

    HeldFolder() = default;
    ~HeldFolder();
    HeldFolder(HeldFolder&& other) noexcept;
    HeldFolder& operator=(HeldFolder&& other) noexcept;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Holds the folder at `path`. False when it is not a folder or, with RefuseLink, when it
    // is a link (a reparse point), which is then not held.
    bool Open(const char16_t* path, Links links);
    // Holds the folder `name` inside `parent`, refusing a link; with `create`, makes it first
    // when nothing stands there.
    bool OpenIn(const HeldFolder& parent, const char16_t* name, bool create);
    // Makes the folder's changed names (moves, deletes) durable.
    bool Flush();
    bool IsOpen() const { return handle_ != -1; }
    void Close();

    // What stands at `name`, as GetAttributesAt reports it: a link as a link.
    uint32_t AttributesOf(const char16_t* name) const;
    // Sets the attributes of the file `name`; false for a folder, a link or nothing.
    bool SetAttributesOf(const char16_t* name, uint32_t attributes) const;
    // Renames `from` to `to`; over a file standing at `to` only with `replace`, and then
    // over the file itself, never through a link.
    bool Move(const char16_t* from, const char16_t* to, bool replace) const;
    // Removes the file or link `name` as RemoveAt does.
    bool Remove(const char16_t* name) const;
    // True when the file `name` could be replaced now: no other program holds it against it,
    // and the folder lets this process change its names.
    bool CanReplace(const char16_t* name) const;

    intptr_t Handle() const { return handle_; }  // the platform's handle or descriptor
    const std::u16string& Path() const { return path_; }

private:
    intptr_t handle_ = -1;
    std::u16string path_;
};

}  // namespace package
