#include "link/transfer_session.h"

#include "data/link_store.h"
#include "data/panel_bytes.h"
#include "link/frame_codec.h"
#include "link/section_values.h"

namespace {
struct BadValue {};
} // namespace

void TransferSession::clearImage()
{
    readBack = ReadBack::None;
    verifyPass = 0;
    toVerify.fill(false);
    downloadBytes.fill('\0', MemorySize);
    downloadKnown.fill('\0', MemorySize);
    progressTotal = 0;
    progressPercent = 0;
    sectionsDone = 0;
    storedSections.clear();
    memoryImage.fill(0);
    transferMarks.fill(0);
    addressType.fill(0);
    addressSection.fill(NoSection);
}

bool TransferSession::buildImage(const QList<LinkValueRow>& rows)
{
    int lastCounted = NoSection;
    const auto count = [&](int section, int estado) {
        if (section != lastCounted && ((estado == 1 && writePending) || (estado == -1 && readPending))) {
            progressTotal += 1;
            lastCounted = section;
        }
    };
    const auto place = [&](int a, int value, int estado, int section, int type) {
        if (a < 0 || a >= MemorySize || value < 0)
            throw BadValue{};
        memoryImage[size_t(a)] = qint16(value);
        transferMarks[size_t(a)] = qint16(estado);
        addressSection[size_t(a)] = qint16(section);
        addressType[size_t(a)] = qint16(type);
    };
    try {
        int groupPos = -1;
        for (const LinkValueRow& r : rows) {
            const int pos = r.posicion;
            const bool first = pos != groupPos;
            groupPos = pos;
            switch (r.tipo) {
            case 1:
                if (pos < 0 || pos >= MemorySize || r.item < 1 || r.item > 8)
                    throw BadValue{};
                if (first) {
                    place(pos, 0, r.estado, r.seccion, 1);
                    count(r.seccion, r.estado);
                }
                if (r.valor == QLatin1String("1"))
                    memoryImage[size_t(pos)] = qint16(memoryImage[size_t(pos)] | (1 << (r.item - 1)));
                break;
            case 2:
            case 3:
                place(pos + r.item - 1, panelbytes::sectionByte(r.tipo, r.valor), r.estado, r.seccion, r.tipo);
                count(r.seccion, r.estado);
                break;
            case 4:
            case 5:
                for (int k = 1; k <= r.len; k += 2) {
                    const QStringView digits = QStringView(r.valor).mid(k - 1).left(2);
                    // Digits missing at the end of a short text count as zero.
                    place(pos + (k - 1) / 2, digits.isEmpty() ? 0 : codec::hexByte(digits), r.estado, r.seccion, 4);
                }
                count(r.seccion, r.estado);
                break;
            default:
                throw BadValue{};
            }
        }
    } catch (const BadValue&) {
        return false;
    }
    if (writePending) {
        // What this upload writes is what its read-back proves.
        for (int a = 0; a < MemorySize - 1; ++a)
            toVerify[size_t(a)] = transferMarks[size_t(a)] == 1;
        uploadSections = int(progressTotal);
    }
    return true;
}

bool TransferSession::findRun(int mark)
{
    int a = 0;
    while (a < MemorySize && transferMarks[size_t(a)] != mark)
        ++a;
    // Address 5000 is never sent.
    if (a >= MemorySize - 1)
        return false;
    runStart = a;
    int end = a + 1;
    while (end < MemorySize - 1 && end - a < 16 && transferMarks[size_t(end)] == mark)
        ++end;
    runEnd = end;
    return true;
}

QList<int> TransferSession::sectionsOf(const std::array<bool, MemorySize>& addresses) const
{
    QList<int> sections;
    QSet<int> seen;
    for (int a = 0; a < MemorySize; ++a) {
        const int s = addressSection[size_t(a)];
        if (addresses[size_t(a)] && s != NoSection && !seen.contains(s)) {
            seen.insert(s);
            sections << s;
        }
    }
    return sections;
}

QList<int> TransferSession::differingSections() const
{
    std::array<bool, MemorySize> differ{};
    for (int a = 0; a < MemorySize; ++a)
        differ[size_t(a)] = comparison.known[size_t(a)] && comparison.bytes[size_t(a)] != memoryImage[size_t(a)];
    return sectionsOf(differ);
}

QList<QPair<int, QString>> TransferSession::panelValues(int section) const
{
    return sectionValues(comparison.bytes.data(), addressSection.data(), addressType.data(), MemorySize, section);
}

QList<QPair<int, QString>> TransferSession::imageValues(int section) const
{
    return sectionValues(memoryImage.data(), addressSection.data(), addressType.data(), MemorySize, section);
}
