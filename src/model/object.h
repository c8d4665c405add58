#pragma once
// The serializable object base and its run-time class description.

#include <cstdint>
#include <memory>
#include <string_view>

class CArchive;
class CObject;

// Marks a class whose stored schema may differ from the declared one.
inline constexpr std::uint32_t VERSIONABLE_SCHEMA = 0x80000000u;

struct CRuntimeClass {
    std::string_view name;  // the class name written into class records, case-sensitive
    std::uint32_t schema;   // the declared schema, VERSIONABLE_SCHEMA or'd in where it applies
    std::unique_ptr<CObject> (*create)();  // an empty instance, as a file read needs it

    std::uint16_t SchemaWord() const { return static_cast<std::uint16_t>(schema & 0xFFFFu); }
    bool IsVersionable() const { return (schema & VERSIONABLE_SCHEMA) != 0; }
};

class CObject {
  public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const = 0;
    virtual void Serialize(CArchive& ar) = 0;

  protected:
    CObject() = default;
    // A copy is a new object to every archive, so the archive mark is not copied.
    CObject(const CObject&) noexcept {}
    CObject& operator=(const CObject&) noexcept { return *this; }

  private:
    friend class CArchive;
    // Set by the storing archive that owns the mark: which archive wrote this object, and
    // under which index, so that a second reference finds the index without a table lookup.
    mutable std::uint64_t archiveMark_ = 0;
};
