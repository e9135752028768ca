#pragma once

#include "DeviceModels.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tamberlo::bridgesim {

// Time as the simulator sees it: microseconds from an arbitrary origin. The program
// feeds the monotonic clock, tests feed whatever instants they like.
using SimTime = std::chrono::microseconds;

// Status register 0, as clocked out low byte first: the flags in bits 0-4 and the
// current row address A10..A0 in bits 5-15.
namespace sr0 {
inline constexpr std::uint16_t CMD_ERR = 0x0001; // the previous command was refused
inline constexpr std::uint16_t FULL = 0x0002;    // no free row at the record pointer
inline constexpr std::uint16_t PU = 0x0004;      // powered up
inline constexpr std::uint16_t EOM = 0x0008;     // an end-of-message marker was played
inline constexpr std::uint16_t INT = 0x0010;     // an operation has finished
inline constexpr int ROW_SHIFT = 5;
} // namespace sr0

// Status register 1. The four sound-effect bits (4-7) stay 0: sound effects are not
// modelled.
namespace sr1 {
inline constexpr std::uint8_t RDY = 0x01;
inline constexpr std::uint8_t ERASE = 0x02;
inline constexpr std::uint8_t PLAY = 0x04;
inline constexpr std::uint8_t REC = 0x08;
} // namespace sr1

// Bits of the 12-bit analog path configuration (APC) register that the model looks at
// or that the log names. Bits 0-2 hold the volume (0 loudest).
namespace apc {
inline constexpr std::uint16_t VOLUME = 0x007;
inline constexpr std::uint16_t MONITOR = 0x008;
inline constexpr std::uint16_t MIX = 0x010;
inline constexpr std::uint16_t FEED_THROUGH = 0x040;
inline constexpr std::uint16_t SPEAKER_OFF = 0x100;
inline constexpr std::uint16_t VALERT_OFF = 0x400;
inline constexpr std::uint16_t EOM_ENABLE = 0x800; // SET_PLAY stops at an EOM marker
} // namespace apc

// The voice chip behind the bridge, modelled from the family's design guide.
//
// Memory: rows 0x010 up to the model's last row form a ring; a message is a run of
// recorded rows that ends with an EOM marker. REC writes a new message at the record
// pointer, PLAY plays the message at the play pointer, FWD moves the play pointer to the
// next message (wrapping), ERASE removes the message at the play pointer if it is the
// first or the last one in the ring, G_ERASE empties the ring. The SET_ commands play,
// record or erase an explicit range of rows and leave both pointers alone.
//
// Time: a row lasts rowDuration (125 ms at the default 8 kHz sample rate), so the current
// row moves while the chip plays or records. Nothing happens by itself: advanceTo(now)
// runs the operation in progress up to `now`, and execute() does so before it looks at a
// command.
//
// Refusals: while powered down the chip takes only PU, STOP, RESET, CLR_INT, RD_STATUS,
// PD and DEVID; while it plays, records or erases it takes only STOP (not while erasing),
// RESET, CLR_INT, RD_STATUS, PD and DEVID. Any other command, or one that has nothing to
// act on (PLAY without a message, REC with memory full, ERASE of a middle message, a bad
// range), is ignored and sets CMD_ERR. The next accepted command that changes anything
// clears CMD_ERR; the pure reads (RD_STATUS, DEVID, pointer and APC reads) leave it.
class ChipModel {
public:
    static constexpr std::uint16_t FIRST_MESSAGE_ROW = 0x010;
    static constexpr SimTime DEFAULT_ROW_DURATION = std::chrono::milliseconds(125);
    // How long an erase keeps the chip busy; the rows are free from its start.
    static constexpr SimTime ERASE_DURATION = std::chrono::milliseconds(100);
    // The APC value held in the non-volatile configuration until WR_NVCFG replaces it.
    static constexpr std::uint16_t FACTORY_APC = 0x000;

    enum class Activity { Idle, Playing, Recording, Erasing };

    explicit ChipModel(const DeviceModel& model, SimTime rowDuration = DEFAULT_ROW_DURATION);

    // Runs the operation in progress up to `now`. Times must not go backwards.
    void advanceTo(SimTime now);
    // When the operation in progress next changes something (end of the current row or
    // of the erase); nothing if the chip is idle.
    std::optional<SimTime> nextEvent() const;

    // Executes one command frame (opcode first) at `now`. Returns false if the chip
    // refused it, in which case CMD_ERR is now set.
    bool execute(std::span<const std::uint8_t> frame, SimTime now);

    std::uint16_t sr0() const;
    std::uint8_t sr1() const;
    std::uint16_t currentRow() const { return currentRow_; }
    std::uint16_t playPointer() const { return playPointer_; }
    std::uint16_t recordPointer() const { return recordPointer_; }
    std::uint16_t apcRegister() const { return apc_; }
    std::uint8_t deviceId() const { return model_.deviceId; }
    const DeviceModel& model() const { return model_; }
    bool poweredUp() const { return poweredUp_; }
    Activity activity() const { return operation_.activity; }

    bool isRecorded(std::uint16_t row) const { return row < rows_.size() && rows_[row].recorded; }
    bool hasEom(std::uint16_t row) const { return row < rows_.size() && rows_[row].eom; }

    struct Message {
        std::uint16_t start;
        std::uint16_t end; // the row that carries the EOM marker
        bool operator==(const Message&) const = default;
    };
    // The messages in the ring, by start row.
    std::vector<Message> messages() const;

    // The message memory as a memory file keeps it: runs of recorded rows in ascending
    // order, each ending where an EOM marker or an unrecorded row ends it.
    struct RecordedRun {
        std::uint16_t first;
        std::uint16_t last;
        bool eom; // the last row carries an EOM marker
        bool operator==(const RecordedRun&) const = default;
    };
    std::vector<RecordedRun> recordedRuns() const;
    // Replaces the memory with these runs, as a chip that was switched off with them:
    // powered down, pointers as after RESET. The runs must lie within the model's rows.
    void restoreMemory(std::span<const RecordedRun> runs);
    // Changes whenever a row is recorded or erased or an EOM marker is written.
    std::uint64_t memoryRevision() const { return memoryRevision_; }

private:
    struct Row {
        bool recorded = false;
        bool eom = false;
    };
    struct Operation {
        Activity activity = Activity::Idle;
        bool ranged = false;     // started by a SET_ command
        std::uint16_t first = 0; // the row it started at
        std::uint16_t last = 0;  // ranged: the last row of the range
        bool stopAtEom = false;  // ranged play: stop at an EOM marker
        SimTime endsAt{};        // end of the current row, or of the erase
    };

    bool run(std::uint8_t opcode, std::span<const std::uint8_t> frame, SimTime now);
    bool startPlay(SimTime now);
    bool startRecord(SimTime now);
    bool eraseMessage(SimTime now);
    void eraseAll(SimTime now);
    bool forward();
    bool checkMemory();
    bool runRange(std::uint8_t opcode, std::span<const std::uint8_t> frame, SimTime now);
    void reset();

    void finishRow();
    void finishOperation();
    void finishRecording();
    void startErasing(SimTime now);
    void beginRecordingRow(std::uint16_t row);

    std::uint16_t nextRow(std::uint16_t row) const;
    std::uint16_t previousRow(std::uint16_t row) const;
    bool isMessageStart(std::uint16_t row) const;
    std::vector<std::uint16_t> messageStarts() const;
    std::uint16_t messageEnd(std::uint16_t start) const;
    std::uint16_t messageStartOf(std::uint16_t row) const;
    // Distance going round the ring from the record pointer, which orders the messages
    // from the oldest (first) to the newest (last).
    int ringDistanceFromRecordPointer(std::uint16_t row) const;
    std::vector<std::uint16_t> freeRowsAfterMessages() const;
    void initialisePointers();

    const DeviceModel& model_;
    SimTime rowDuration_;
    std::vector<Row> rows_;
    Operation operation_;
    std::uint16_t flags_ = 0; // CMD_ERR, EOM and INT; the others are derived
    bool poweredUp_ = false;
    bool powerDownPending_ = false;
    std::uint16_t currentRow_ = FIRST_MESSAGE_ROW;
    std::uint16_t playPointer_ = FIRST_MESSAGE_ROW;
    std::uint16_t recordPointer_ = FIRST_MESSAGE_ROW;
    std::uint16_t apc_ = FACTORY_APC;
    std::uint16_t nonVolatileApc_ = FACTORY_APC;
    std::uint64_t memoryRevision_ = 0;
};

} // namespace tamberlo::bridgesim
