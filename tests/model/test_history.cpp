#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "model/archive.h"
#include "model/history.h"

// Defined beside the allocation counter in test_archive.cpp.
std::size_t LargestAllocationDuring(const std::function<void()>& run);

namespace {

std::vector<double> Values(const clHistoricals& history) {
    std::vector<double> values;
    history.ForEach([&](const clHistorical& s) { values.push_back(s.value); });
    return values;
}

std::vector<std::int32_t> Numbers(const clHistoricals& history) {
    std::vector<std::int32_t> numbers;
    history.ForEach([&](const clHistorical& s) { numbers.push_back(s.number); });
    return numbers;
}

const clDateTime kStamp(2024, 3, 1, 12, 0, 0, 250);

void Offer(clHistoricals& history, std::initializer_list<double> values) {
    for (const double v : values) {
        history.AddSample(kStamp, v, 0xC0, true);
    }
}

std::unique_ptr<clHistorical> Sample(double value) {
    auto sample = std::make_unique<clHistorical>();
    sample->value = value;
    return sample;
}

ClassRegistry HistoryClasses() {
    ClassRegistry classes;
    classes.Add(clHistorical::runtimeClass);
    classes.Add(clHistoricals::runtimeClass);
    return classes;
}

std::vector<std::uint8_t> Store(clHistoricals& history) {
    CArchive ar;
    history.Serialize(ar);
    return ar.TakeBytes();
}

void Load(clHistoricals& history, const std::vector<std::uint8_t>& bytes) {
    const ClassRegistry classes = HistoryClasses();
    CArchive ar(bytes, classes);
    history.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);
}

void PutDWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// A buffer image without samples.
std::vector<std::uint8_t> EmptyImage(std::uint32_t nextNumber, std::uint32_t capacity,
                                     bool overwrite) {
    std::vector<std::uint8_t> bytes;
    PutDWord(bytes, 1);
    PutDWord(bytes, nextNumber);
    bytes.push_back(1);  // enabled
    PutDWord(bytes, capacity);
    bytes.push_back(overwrite ? 1 : 0);
    bytes.push_back(0);  // count 0
    bytes.push_back(0);
    return bytes;
}

}  // namespace

TEST(History, DisabledBufferTakesNothingAndConsumesNoNumber) {
    clHistoricals history;
    EXPECT_FALSE(history.enabled);
    EXPECT_EQ(history.capacity, 128);
    EXPECT_FALSE(history.overwrite);
    EXPECT_FALSE(history.AddSample(kStamp, 1.0, 0xC0, true));
    EXPECT_EQ(history.GetCount(), 0u);
    EXPECT_EQ(history.GetNextNumber(), 1);

    history.enabled = true;
    EXPECT_TRUE(history.AddSample(kStamp, 2.0, 0x40, false));
    ASSERT_EQ(history.GetCount(), 1u);
    history.ForEach([](const clHistorical& s) {
        EXPECT_EQ(s.number, 1);
        EXPECT_EQ(s.value, 2.0);
        EXPECT_EQ(s.quality, 0x40u);
        EXPECT_FALSE(s.numeric);
        EXPECT_EQ(s.timestamp, kStamp);
        EXPECT_EQ(s.remark, "");
    });
}

TEST(History, FullBufferRefusesOrOverwritesTheOldest) {
    clHistoricals keep;
    keep.enabled = true;
    keep.capacity = 3;
    Offer(keep, {1, 2, 3});
    EXPECT_TRUE(keep.AddSample(kStamp, 4, 0xC0, true));  // refused, yet reported as taken
    EXPECT_EQ(Values(keep), (std::vector<double>{3, 2, 1}));
    EXPECT_EQ(Numbers(keep), (std::vector<std::int32_t>{3, 2, 1}));
    EXPECT_EQ(keep.GetNextNumber(), 4);
    keep.Insert(Sample(5));
    EXPECT_EQ(Values(keep), (std::vector<double>{3, 2, 1}));
    EXPECT_EQ(keep.GetNextNumber(), 4);

    clHistoricals roll;
    roll.enabled = true;
    roll.capacity = 3;
    roll.overwrite = true;
    Offer(roll, {1, 2, 3});
    ASSERT_TRUE(roll.SetRemark(1, "oldest"));
    Offer(roll, {4});
    EXPECT_EQ(Values(roll), (std::vector<double>{4, 3, 2}));
    EXPECT_EQ(Numbers(roll), (std::vector<std::int32_t>{4, 3, 2}));
    // The newest sample carries nothing of the one it replaced.
    roll.ForEach([](const clHistorical& s) { EXPECT_EQ(s.remark, ""); });
    roll.Insert(Sample(5));
    EXPECT_EQ(Values(roll), (std::vector<double>{5, 4, 3}));
    EXPECT_EQ(Numbers(roll), (std::vector<std::int32_t>{5, 4, 3}));
    EXPECT_EQ(roll.GetNextNumber(), 6);
}

TEST(History, OverwriteRemovesOneSampleEvenAboveCapacity) {
    for (const bool viaInsert : {false, true}) {
        clHistoricals history;
        history.enabled = true;
        history.overwrite = true;
        Offer(history, {1, 2, 3, 4, 5});
        history.capacity = 2;  // lowered without Resize
        if (viaInsert) {
            history.Insert(Sample(6));
        } else {
            Offer(history, {6});
        }
        EXPECT_EQ(Values(history), (std::vector<double>{6, 5, 4, 3, 2})) << viaInsert;
    }
}

TEST(History, CapacityOfZeroOrLess) {
    for (const std::int32_t capacity : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        clHistoricals refusing;
        refusing.enabled = true;
        refusing.capacity = capacity;
        Offer(refusing, {1, 2});
        refusing.Insert(Sample(3));
        EXPECT_EQ(refusing.GetCount(), 0u);
        EXPECT_EQ(refusing.GetNextNumber(), 1);

        clHistoricals rolling;
        rolling.enabled = true;
        rolling.capacity = capacity;
        rolling.overwrite = true;
        Offer(rolling, {1, 2});
        rolling.Insert(Sample(3));
        EXPECT_EQ(Values(rolling), (std::vector<double>{3}));
        EXPECT_EQ(rolling.GetNextNumber(), 4);

        rolling.Resize();
        EXPECT_EQ(rolling.GetCount(), 0u);
    }
}

TEST(History, ResizeAndRemoveAllKeepTheNumbering) {
    clHistoricals history;
    history.enabled = true;
    history.capacity = 10;
    Offer(history, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    history.capacity = 4;
    history.Resize();
    EXPECT_EQ(Values(history), (std::vector<double>{10, 9, 8, 7}));
    history.capacity = 8;
    history.Resize();
    EXPECT_EQ(history.GetCount(), 4u);

    history.RemoveAll();
    EXPECT_EQ(history.GetCount(), 0u);
    EXPECT_TRUE(history.enabled);
    EXPECT_EQ(history.capacity, 8);
    Offer(history, {11});
    EXPECT_EQ(Numbers(history), (std::vector<std::int32_t>{11}));
}

TEST(History, RemarksBySampleNumber) {
    clHistoricals history;
    history.enabled = true;
    history.capacity = 2;
    history.overwrite = true;
    Offer(history, {1, 2});
    EXPECT_TRUE(history.SetRemark(2, "second"));
    EXPECT_TRUE(history.SetRemark(1, "first"));
    EXPECT_FALSE(history.SetRemark(3, "none yet"));
    Offer(history, {3});
    EXPECT_FALSE(history.SetRemark(1, "gone"));
    std::vector<std::string> remarks;
    history.ForEach([&](const clHistorical& s) { remarks.push_back(s.remark); });
    EXPECT_EQ(remarks, (std::vector<std::string>{"", "second"}));
}

TEST(History, SamplePropertyTexts) {
    clHistorical s;
    EXPECT_EQ(s.number, 0);
    EXPECT_EQ(s.timestamp, clDateTime(2000, 1, 1, 0, 0, 0, 0));
    EXPECT_TRUE(s.numeric);

    s.value = 12.5;
    EXPECT_EQ(s.GetPropertyText("value"), "12.5");
    s.value = 100.0;
    EXPECT_EQ(s.GetPropertyText("VALUE"), "100");
    s.numeric = false;
    EXPECT_EQ(s.GetPropertyText("value"), "On");
    s.value = 0.0;
    EXPECT_EQ(s.GetPropertyText("value"), "Off");
    s.value = -1.0;
    EXPECT_EQ(s.GetPropertyText("value"), "Off");
    s.value = std::nan("");
    EXPECT_EQ(s.GetPropertyText("value"), "Off");

    s.quality = 0x58;
    EXPECT_EQ(s.GetPropertyText("Quality"), "Uncertain");

    s.timestamp = kStamp;
    EXPECT_EQ(s.GetPropertyText("TimeStamp"), "2024-03-01 12:00:00.250");

    s.SetPropertyText("Remark", "checked");
    EXPECT_EQ(s.GetPropertyText("remark"), "checked");
    s.SetPropertyText("value", "7");
    s.SetPropertyText("remarks", "no");
    EXPECT_EQ(s.GetPropertyText("REMARK"), "checked");
    EXPECT_EQ(s.GetPropertyText("number"), "");
    EXPECT_EQ(s.GetPropertyText(""), "");
}

TEST(History, NumberingWrapsAfterTheLastNumber) {
    clHistoricals history;
    Load(history, EmptyImage(clHistoricals::kLastNumber, 10, false));
    EXPECT_EQ(history.GetNextNumber(), clHistoricals::kLastNumber);
    Offer(history, {1, 2});
    EXPECT_EQ(Numbers(history), (std::vector<std::int32_t>{1, clHistoricals::kLastNumber}));
    EXPECT_EQ(history.GetNextNumber(), 2);

    // Numbers above the range, or below 1, read from a file restart at 1.
    for (const std::uint32_t stored : {0x20000000u, 0xFFFFFFFFu, 0x80000000u, 0u}) {
        clHistoricals damaged;
        Load(damaged, EmptyImage(stored, 10, false));
        Offer(damaged, {1});
        EXPECT_EQ(Numbers(damaged), (std::vector<std::int32_t>{1})) << stored;
    }
}

TEST(History, SerializedImageRoundTrips) {
    clHistoricals history;
    history.enabled = true;
    history.capacity = 5;
    history.overwrite = true;
    history.AddSample(clDateTime(2023, 12, 31, 23, 59, 59, 999), 1.5, 0xC0, true);
    history.AddSample(clDateTime(2024, 2, 29, 0, 0, 0, 1), 1.0, 0x40, false);
    history.AddSample(kStamp, -7.25, 0x00, true);
    ASSERT_TRUE(history.SetRemark(2, "leap day"));

    const std::vector<std::uint8_t> bytes = Store(history);
    // The buffer's own fields, then the count and the newest sample as a new object of a new
    // class.
    const std::vector<std::uint8_t> head = {
        1,    0,    0, 0, 4,  0, 0,   0,   1,   5,   0,   0,   0,   1,   3,   0,
        0xFF, 0xFF, 0, 0, 12, 0, 'c', 'l', 'H', 'i', 's', 't', 'o', 'r', 'i', 'c',
        'a',  'l',  1, 0, 0,  0, 3,   0,   0,   0,   0,   0,   0,   0};
    ASSERT_GT(bytes.size(), head.size());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + head.size()), head);
    // 3 samples: the first with its class record, the others tagged 0x8001 (class index 1).
    const std::size_t sampleImage = 4 + 4 + 4 + 8 + 1 + 7 * 4;  // plus the remark
    EXPECT_EQ(bytes.size(), 16 + (2 + 2 + 2 + 12) + 2 + 2 + 3 * (sampleImage + 1) + 8);

    clHistoricals loaded;
    Load(loaded, bytes);
    EXPECT_TRUE(loaded.enabled);
    EXPECT_EQ(loaded.capacity, 5);
    EXPECT_TRUE(loaded.overwrite);
    EXPECT_EQ(loaded.GetNextNumber(), 4);
    std::vector<const clHistorical*> original;
    std::vector<const clHistorical*> copy;
    history.ForEach([&](const clHistorical& s) { original.push_back(&s); });
    loaded.ForEach([&](const clHistorical& s) { copy.push_back(&s); });
    ASSERT_EQ(copy.size(), 3u);
    for (std::size_t i = 0; i < copy.size(); ++i) {
        EXPECT_EQ(copy[i]->number, original[i]->number);
        EXPECT_EQ(copy[i]->timestamp, original[i]->timestamp);
        EXPECT_EQ(copy[i]->quality, original[i]->quality);
        EXPECT_EQ(copy[i]->value, original[i]->value);
        EXPECT_EQ(copy[i]->remark, original[i]->remark);
        EXPECT_EQ(copy[i]->numeric, original[i]->numeric);
    }
    EXPECT_EQ(Store(loaded), bytes);
}

TEST(History, LoadingKeepsAnOverlongListAndRefusesDamage) {
    clHistoricals source;
    source.enabled = true;
    source.capacity = 4;
    Offer(source, {1, 2, 3, 4});
    source.capacity = 2;
    const std::vector<std::uint8_t> bytes = Store(source);

    clHistoricals loaded;
    Load(loaded, bytes);
    EXPECT_EQ(loaded.capacity, 2);
    EXPECT_EQ(Values(loaded), (std::vector<double>{4, 3, 2, 1}));

    // Cut anywhere, the image fails as a whole and the buffer keeps what it held.
    const ClassRegistry classes = HistoryClasses();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + length);
        CArchive ar(cut, classes);
        try {
            loaded.Serialize(ar);
            ADD_FAILURE() << "image of " << length << " bytes accepted";
        } catch (const CArchiveException& e) {
            // A class name cut short is a bad class; anything else is the end of the input.
            EXPECT_TRUE(e.GetCause() == CArchiveException::endOfFile ||
                        e.GetCause() == CArchiveException::badClass)
                << length;
        }
        ASSERT_EQ(Values(loaded), (std::vector<double>{4, 3, 2, 1}));
        ASSERT_EQ(loaded.capacity, 2);
    }

    // A count that claims more samples than the input holds ends at the end of the input.
    std::vector<std::uint8_t> claims = EmptyImage(1, 10, false);
    claims.resize(claims.size() - 2);
    claims.insert(claims.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    CArchive ar(claims, classes);
    EXPECT_THROW(loaded.Serialize(ar), CArchiveException);
}

TEST(History, ReaderWalksWhileSamplesArrive) {
    clHistoricals history;
    history.enabled = true;
    history.capacity = 64;
    history.overwrite = true;
    std::atomic<bool> done = false;

    std::thread adder([&] {
        for (int i = 1; i <= 20000; ++i) {
            history.AddSample(kStamp, i, 0xC0, true);
            if (i % 997 == 0) {
                history.capacity = 64 - (i / 997) % 3 * 16;
                history.Resize();
            }
            if (i % 4999 == 0) {
                history.RemoveAll();
            }
            if (i % 3 == 0) {
                history.Insert(Sample(i));
            }
        }
        done = true;
    });

    std::size_t walks = 0;
    while (!done || walks == 0) {
        std::int32_t previous = std::numeric_limits<std::int32_t>::max();
        std::size_t seen = 0;
        history.ForEach([&](const clHistorical& s) {
            EXPECT_LT(s.number, previous);  // newest first, numbers strictly falling
            previous = s.number;
            ++seen;
        });
        EXPECT_LE(seen, 64u);
        ++walks;
        history.SetRemark(previous, "seen");
    }
    adder.join();
    EXPECT_GT(walks, 0u);
    EXPECT_EQ(history.GetNextNumber(), 20000 + 20000 / 3 + 1);
}

namespace {

// The buffer's rules on a plain list, to compare the buffer against.
struct ReferenceHistory {
    struct Entry {
        std::int32_t number;
        double value;
        std::string remark;
        bool operator==(const Entry&) const = default;
    };
    std::deque<Entry> samples;  // newest first
    std::int32_t nextNumber = 1;

    void Offer(const clHistoricals& h, double value, std::string remark) {
        if (nextNumber > clHistoricals::kLastNumber || nextNumber < 1) {
            nextNumber = 1;
        }
        if (static_cast<std::int64_t>(samples.size()) >= h.capacity) {
            if (!h.overwrite) {
                return;
            }
            if (!samples.empty()) {
                samples.pop_back();
            }
        }
        samples.push_front({nextNumber++, value, std::move(remark)});
    }
};

std::vector<ReferenceHistory::Entry> Entries(const clHistoricals& history) {
    std::vector<ReferenceHistory::Entry> entries;
    history.ForEach([&](const clHistorical& s) {
        entries.push_back({s.number, s.value, s.remark});
    });
    return entries;
}

}  // namespace

TEST(History, AnyMixOfChangesKeepsTheBuffersRules) {
    // Random offers, inserts, capacity changes with and without Resize, clearing, remarks and
    // save-and-reload, checked after every step against the rules on a plain list: the samples
    // wrap around their storage, grow it, shrink it and are reloaded in every state.
    std::mt19937 random(20240301);
    for (int round = 0; round < 40; ++round) {
        auto history = std::make_unique<clHistoricals>();
        history->enabled = true;
        history->capacity = 1 + static_cast<std::int32_t>(random() % 24);
        history->overwrite = random() % 4 != 0;
        ReferenceHistory reference;
        for (int step = 0; step < 400; ++step) {
            const unsigned op = random() % 100;
            const double value = step + round * 1000;
            if (op < 45) {
                history->AddSample(kStamp, value, 0xC0, true);
                reference.Offer(*history, value, "");
            } else if (op < 60) {
                auto sample = std::make_unique<clHistorical>();
                sample->value = value;
                sample->remark = "inserted";
                history->Insert(std::move(sample));
                reference.Offer(*history, value, "inserted");
            } else if (op < 70) {
                history->capacity = static_cast<std::int32_t>(random() % 30) - 2;
                if (random() % 2 == 0) {
                    history->Resize();
                    while (!reference.samples.empty() &&
                           static_cast<std::int64_t>(reference.samples.size()) >
                               history->capacity) {
                        reference.samples.pop_back();
                    }
                }
            } else if (op < 74) {
                history->overwrite = !history->overwrite;
            } else if (op < 76) {
                history->RemoveAll();
                reference.samples.clear();
            } else if (op < 88) {
                const std::int32_t number =
                    reference.nextNumber - 1 - static_cast<int>(random() % 8);
                const std::string remark = "remark " + std::to_string(step);
                bool found = false;
                for (auto& entry : reference.samples) {
                    if (entry.number == number) {
                        entry.remark = remark;
                        found = true;
                        break;
                    }
                }
                EXPECT_EQ(history->SetRemark(number, remark), found);
            } else {
                // Saved and read into a new buffer, which carries on from there.
                auto reloaded = std::make_unique<clHistoricals>();
                Load(*reloaded, Store(*history));
                EXPECT_EQ(reloaded->capacity, history->capacity);
                EXPECT_EQ(reloaded->overwrite, history->overwrite);
                history = std::move(reloaded);
            }
            ASSERT_EQ(Entries(*history), std::vector<ReferenceHistory::Entry>(
                                             reference.samples.begin(), reference.samples.end()))
                << "round " << round << " step " << step << " op " << op;
            ASSERT_EQ(history->GetCount(), reference.samples.size());
            ASSERT_EQ(history->GetNextNumber(), reference.nextNumber);
        }
    }
}

TEST(History, LoadingReservesOnlyWhatTheInputCanHold) {
    // An image that claims 4 billion samples and holds one: the storage reserved for the
    // samples stays within what the input could hold, and the read ends at the end of the input.
    clHistoricals one;
    one.enabled = true;
    Offer(one, {1});
    std::vector<std::uint8_t> bytes = Store(one);
    const std::size_t countAt = 14;  // after the buffer's own fields
    ASSERT_EQ(bytes[countAt], 1);
    bytes[countAt] = 0xFF;
    bytes[countAt + 1] = 0xFF;
    const std::uint8_t claim[] = {0xFF, 0xFF, 0xFF, 0xFE};
    bytes.insert(bytes.begin() + countAt + 2, std::begin(claim), std::end(claim));

    const ClassRegistry classes = HistoryClasses();
    clHistoricals loaded;
    const std::size_t largest = LargestAllocationDuring([&] {
        CArchive ar(bytes, classes);
        try {
            loaded.Serialize(ar);
            ADD_FAILURE() << "a claim beyond the input was accepted";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.GetCause(), CArchiveException::endOfFile);
        }
    });
    EXPECT_LT(largest, 4 * sizeof(clHistorical));
    EXPECT_EQ(loaded.GetCount(), 0u);
}
