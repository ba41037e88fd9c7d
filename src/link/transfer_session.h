#pragma once
// A memory transfer's state: the subscriber's values as a memory image with
// one transfer mark per panel address, the run in flight, what is pending
// (write, read, event download), the progress, and the read-back of
// verified uploads and comparisons. PanelLink moves the runs and stores
// the answers; the image, the runs and the section bookkeeping are here.

#include "data/link_store.h"
#include "link/comparison_image.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <array>

class TransferSession {
public:
    static constexpr int MemorySize = 5001;
    static constexpr int NoSection = 1000;
    enum class ReadBack { None, Verify, Compare };

    TransferSession() { addressSection.fill(NoSection); }
    void reset() { *this = TransferSession(); }
    // A new image is to be built: everything of the last transfer goes.
    void clearImage();
    // Builds the image from the subscriber's values and marks. False when a
    // value cannot be encoded (the image is then half built).
    bool buildImage(const QList<LinkValueRow>& rows);
    // The next run of up to 16 addresses carrying `mark` (1 write, -1 read)
    // becomes runStart/runEnd; false when none is left (address 5000 is
    // never sent).
    bool findRun(int mark);
    // Sections holding any of the addresses, in address order.
    QList<int> sectionsOf(const std::array<bool, MemorySize>& addresses) const;
    // Sections whose panel bytes differ from the image, by the last read-back.
    QList<int> differingSections() const;
    // A section's values as a download would store them: from the panel's
    // bytes of the last read-back, or from the image.
    QList<QPair<int, QString>> panelValues(int section) const;
    QList<QPair<int, QString>> imageValues(int section) const;
    bool busy() const { return writePending || readPending || eventsPending; }

    bool writePending = false;
    bool readPending = false;
    bool eventsPending = false;
    double progressTotal = 0; // sections the transfer moves
    double progressPercent = 0;
    int sectionsDone = 0; // sections of the transfer completed so far
    int eventsStored = 0; // event records stored by the download so far
    // Records received and not stored yet: a commit per answer (a disk sync
    // each) cost more than the rest of a download, so the answers are
    // stored together, in the order received, at the end of the download,
    // when heldEventsMax are held, once heldEventsTicks ticks have passed
    // since the first of them, or when the session ends.
    QList<LinkEventRow> heldEvents;
    int heldTicks = 0;
    static constexpr int heldEventsMax = 1000;
    static constexpr int heldEventsTicks = 10;
    QSet<int> storedSections; // sections the download has stored (progress counts each once)
    QSet<int> rereadSections; // sections read again after a doubled answer
    bool storeFailureSaid = false; // a store failure was said in this connection

    std::array<qint16, MemorySize> memoryImage{};
    std::array<qint16, MemorySize> transferMarks{};  // 1 write, -1 read, 0 nothing
    std::array<qint16, MemorySize> addressSection{}; // id_seccion; NoSection = none
    std::array<qint16, MemorySize> addressType{};    // 1-4; 0 = none
    int runStart = 0; // first address of the last memory request
    int runEnd = 0;   // address after its last byte

    ReadBack readBack = ReadBack::None;
    ComparisonImage comparison;
    std::array<bool, MemorySize> toVerify{}; // addresses the upload wrote
    int verifyPass = 0;     // read-backs of this upload so far
    int uploadSections = 0; // sections of the upload, for "Verificado: N secciones"
    bool verifyUploads = true; // the station's setting, read when an image is loaded
    // Bytes the download has read so far (a byte per address, and 1 where read).
    QByteArray downloadBytes = QByteArray(MemorySize, '\0');
    QByteArray downloadKnown = QByteArray(MemorySize, '\0');
};
