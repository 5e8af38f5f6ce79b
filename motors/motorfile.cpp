#include "motors/motorfile.h"

#include "motors/payloadcipher.h"

#include <QList>

namespace MotorFile {

namespace {

constexpr char SEPARATOR = ';';
constexpr char LINE_END = '\n';
constexpr int FIELD_COUNT = 3;

bool isCarriedByALine(const QString &field)
{
    return !field.contains(QLatin1Char(SEPARATOR)) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r'));
}

// Lines as a reader sees them: split after each line feed; a last line without one counts.
QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    int start = 0;
    while (start < text.size()) {
        const int end = text.indexOf(LINE_END, start);
        const int next = end < 0 ? text.size() : end + 1;
        lines << text.mid(start, next - start);
        start = next;
    }
    return lines;
}

bool parseLine(const QByteArray &line, PayloadCipher &cipher, MotorEntry *motor, QString *why)
{
    const QStringList fields = QString::fromUtf8(line).split(QLatin1Char(SEPARATOR));
    if (fields.size() < FIELD_COUNT) {
        *why = QStringLiteral("fewer than three fields");
        return false;
    }
    if (!DbManager::isValidMotorName(fields[0])) {
        *why = QStringLiteral("invalid motor name");
        return false;
    }
    // Base64 decoding skips the line end that field 3 still carries.
    const QByteArray record = cipher.decryptBytes(fields[2]);
    if (cipher.lastError() != PayloadCipher::CipherOk) {
        *why = QStringLiteral("record does not decipher (error %1)").arg(int(cipher.lastError()));
        return false;
    }
    if (!motor->params.unpack(record)) {
        *why = QStringLiteral("record of %1 bytes, %2 needed").arg(record.size()).arg(MOTOR_TOTAL::SIZE);
        return false;
    }
    motor->name = fields[0];
    motor->datetime = fields[1];
    return true;
}

} // namespace

bool isValidDate(const QString &datetime)
{
    return isCarriedByALine(datetime);
}

bool compose(const QVector<MotorEntry> &motors, PayloadCipher &cipher, QByteArray *text)
{
    QByteArray out;
    for (const MotorEntry &motor : motors) {
        if (!DbManager::isValidMotorName(motor.name) || !isValidDate(motor.datetime))
            return false;
        const QString record = cipher.encryptText(motor.params.pack());
        if (record.isEmpty())
            return false;
        out += motor.name.toUtf8() + SEPARATOR + motor.datetime.toUtf8() + SEPARATOR
            + record.toLatin1() + LINE_END;
    }
    *text = out;
    return true;
}

bool parse(const QByteArray &text, PayloadCipher &cipher, QVector<MotorEntry> *motors, QString *error)
{
    // A record is one MOTOR_TOTAL: a compressed field 3 may not inflate beyond it.
    cipher.setMaxPlainSize(MOTOR_TOTAL::SIZE);
    QVector<MotorEntry> parsed;
    const QList<QByteArray> lines = splitLines(text);
    for (int i = 0; i < lines.size(); ++i) {
        MotorEntry motor;
        QString why;
        if (!parseLine(lines[i], cipher, &motor, &why)) {
            *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return false;
        }
        parsed << motor;
    }
    *motors = parsed;
    return true;
}

} // namespace MotorFile
