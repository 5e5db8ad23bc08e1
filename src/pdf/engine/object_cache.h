#pragma once
// The object cache: for every object of the file in use, where it is (a byte offset, or a
// place inside an object stream) and its /Type once somebody has asked for it.
//
// Lookups go through 10,000 primary buckets (object number modulo 10,000) of four slots
// each, so files of up to 40,000 objects spread evenly are found in constant time. What does
// not fit goes to ten overflow buckets (object number modulo 10); they are hashed by
// (number, generation), because a list searched from the front, as it once was, made reading
// files beyond some 50,000 objects quadratic.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace ferretta::pdf {

inline constexpr std::string_view unknownType = "UNKNOWN";

struct ObjectRecord {
    std::int16_t fileNumber = 0;
    std::int32_t objectNumber = 0;
    std::int32_t generation = 0;
    std::string objType{unknownType};  // "UNKNOWN" until asked; then the /Type or "???"
    std::int64_t address = 0;          // byte offset of "n g obj"; -1 inside an object stream
    std::int32_t streamNumber = -1;    // the object stream that holds it, -1 when none
    std::int32_t indexInStream = 0;
};

class ObjectCache {
  public:
    ObjectCache() { p2tObjCacheInit(); }

    // Empties the cache.
    void p2tObjCacheInit();

    // Registers an object and answers its entry number (from 1). Answers -1, registering
    // nothing, once maxEntries objects are registered: a file cannot make the cache grow
    // without bound.
    std::int32_t p2tAddObjCache(std::int16_t file, std::int32_t objectNumber,
                                std::int32_t generation, std::int64_t address,
                                std::string_view objType = unknownType);
    // As above for an object kept inside an object stream.
    std::int32_t addCompressed(std::int16_t file, std::int32_t objectNumber,
                               std::int32_t streamNumber, std::int32_t indexInStream);

    // The entry number of (file, number, generation), or -1 (also for a negative number).
    std::int32_t p2tSearchObjCache(std::int16_t file, std::int32_t objectNumber,
                                   std::int32_t generation) const;

    // The entry e (1 <= e <= count()).
    ObjectRecord& entry(std::int32_t e) { return m_entries[static_cast<std::size_t>(e)]; }
    const ObjectRecord& entry(std::int32_t e) const {
        return m_entries[static_cast<std::size_t>(e)];
    }
    std::int32_t count() const { return m_count; }

    // Whether entry e sits in the primary index (for tests of the bucket layout).
    bool inPrimaryIndex(std::int32_t e) const;

    static constexpr std::int32_t primaryBuckets = 10000;
    static constexpr std::int32_t primarySlots = 4;
    static constexpr std::int32_t overflowBuckets = 10;
    static constexpr std::int32_t maxEntries = 2'000'000;

  private:
    std::int32_t add(ObjectRecord&& record);
    static std::uint64_t key(std::int32_t number, std::int32_t generation) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) << 32) |
               static_cast<std::uint32_t>(generation);
    }

    std::vector<ObjectRecord> m_entries;  // entry 0 is never used
    std::int32_t m_count = 0;
    std::vector<std::array<std::int32_t, primarySlots>> m_primary;
    std::array<std::unordered_multimap<std::uint64_t, std::int32_t>, overflowBuckets> m_overflow;
};

}  // namespace ferretta::pdf
