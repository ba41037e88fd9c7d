#pragma once
// The panel's frame format, as pure functions: a frame is ":" then every
// byte as two letters "A"-"P" (high nibble first), a checksum byte that
// brings the byte sum to 0 mod 256, and a carriage return. Also the small
// text conversions the link and the memory image share.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <array>

namespace codec {

constexpr int MaxBytes = 256;
constexpr int MaxChars = 2 * MaxBytes;
using Bytes = std::array<int, MaxBytes>;

// The checksum byte of bytes 0 ... n-1.
int checksum(const int* bytes, int n);
// Frame text of bytes 0 ... n-1 with the checksum, ":" and carriage return.
QByteArray encode(const int* bytes, int n);
// Decodes a frame's letters (without ":" and carriage return) into `out`:
// the number of bytes with the checksum, or -1 when the text is not a whole
// frame of at least the answer code and the checksum, or its sum is wrong.
int decode(QByteArrayView text, Bytes& out);

// Value of a hexadecimal text of 1-2 digits, or -1.
int hexByte(QStringView t);
// Two characters of an access code from `from` as a byte; anything that is
// not two hexadecimal digits counts as 0 (the panel then ignores the
// request, and the unanswered turns end the connection).
int accessCodeByte(const QString& code, int from);
// The protocol code of a panel model's cadena; 0 when it is not 0-255.
int protocolCodeOf(const QString& cadena);
// ISO date-time text of a dated event record's time stamp; empty when its
// fields do not form a valid date.
QString eventDate(quint32 stamp);

} // namespace codec
