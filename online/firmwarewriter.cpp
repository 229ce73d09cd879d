#include "firmwarewriter.h"

#include "weblog/weblog.h"

#include <QAtomicInt>
#include <QFile>
#include <QTimer>
#include <QtEndian>

#include <vector>

const QString FirmwareWriter::kUpdateModeId = QStringLiteral("HID\\Vid_04d9&Pid_b0d2");

namespace {

QAtomicInt g_waitPercent = 100;

// The library takes NUL-terminated UTF-16 texts.
std::u16string wide(const QString& text) {
    return text.toStdU16String();
}

const kxchar* ptr(const std::u16string& text) {
    return reinterpret_cast<const kxchar*>(text.c_str());
}

} // namespace

FirmwareWriter::FirmwareWriter(const FirmwareEntries& entries, QObject* parent)
    : QObject(parent), m_kx(entries) {}

void FirmwareWriter::setWaitPercent(int percent) {
    g_waitPercent.storeRelaxed(percent);
}

void FirmwareWriter::after(int ms, std::function<void()> step) {
    QTimer::singleShot(ms * g_waitPercent.loadRelaxed() / 100, this, std::move(step));
}

bool FirmwareWriter::start(const QString& devicePath, const QString& filePath) {
    const std::u16string path = wide(devicePath);
    if (!m_kx.deviceExist || m_kx.deviceExist(ptr(path)) != 0)
        return false;
    QFile f(filePath);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // One byte more than the buffer tells a file that would not fit.
    const QByteArray bytes = f.read(kFileSize + 1);
    if (bytes.size() < 8 || bytes.size() > kFileSize ||
        qFromLittleEndian<quint32>(bytes.constData()) != kMagic ||
        qFromLittleEndian<quint32>(bytes.constData() + 4) != 0) {
        qCInfo(lcUpdateDlg).noquote() << "firmware file is not an update file";
        return false;
    }
    m_file = QByteArray(kFileSize, '\0');
    m_file.replace(0, bytes.size(), bytes);
    m_length = qFromLittleEndian<quint64>(m_file.constData() + kLengthOffset);
    // The image must lie inside the bytes the file holds: a larger length would send what lies
    // past them.
    if (m_length > quint64(qMax(0, bytes.size() - kImageOffset))) {
        qCInfo(lcUpdateDlg).noquote()
            << QStringLiteral("firmware image length %1 exceeds the file").arg(m_length);
        return false;
    }
    m_blocks = static_cast<quint32>(m_length / kBlockSize + 1);
    m_devicePath = devicePath;
    if (m_kx.rebootRom && m_kx.reset) {
        quint8 flag = 0;
        m_kx.reset(ptr(path), ptr(std::u16string()), KX_KEY, 1, &flag, 0);
    }
    after(4000, [this] { askForUpdateDevice(1); });
    return true;
}

void FirmwareWriter::askForUpdateDevice(int attempt) {
    const std::u16string id = wide(kUpdateModeId);
    if (m_kx.deviceExist(ptr(id)) == 0) {
        erase();
        return;
    }
    // Asked after 4 s, again after 4 s more, a last time after 5 s more.
    if (attempt == 1)
        after(4000, [this] { askForUpdateDevice(2); });
    else if (attempt == 2)
        after(5000, [this] { askForUpdateDevice(3); });
    else
        end(false, QStringLiteral("鼠标更新失败。。。"));
}

void FirmwareWriter::erase() {
    if (!m_kx.eraseRom || !m_kx.bornRom || !m_kx.checkRom || !m_kx.finishUpdateRom) {
        end(false, QStringLiteral("鼠标更新失败。。。"));
        return;
    }
    const std::u16string id = wide(kUpdateModeId);
    m_kx.eraseRom(ptr(id), ptr(std::u16string()), KX_KEY);
    after(1000, [this] { writeBlock(0); });
}

void FirmwareWriter::writeBlock(quint32 index) {
    const quint64 offset = quint64(index) * kBlockSize;
    const int count = static_cast<int>(qMin<quint64>(m_length - offset, kBlockSize));
    std::vector<uint8_t> buffer(2048, 0);
    memcpy(buffer.data(), m_file.constData() + kImageOffset + offset, static_cast<size_t>(count));
    const std::u16string id = wide(kUpdateModeId);
    const int result = m_kx.bornRom(ptr(id), ptr(std::u16string()), KX_KEY, buffer.data(), count,
                                    static_cast<uint32_t>(offset));
    // A block the device refused leaves a hole in the image: nothing after it can make it whole.
    if (result != 0) {
        end(false, QStringLiteral("更新失败"));
        return;
    }
    if (index + 1 < m_blocks) {
        after(20, [this, index] { writeBlock(index + 1); });
        return;
    }
    emit status(QStringLiteral("更新成功"));
    after(20, [this] { check(); });
}

void FirmwareWriter::check() {
    const std::u16string id = wide(kUpdateModeId);
    const quint32 length = qFromLittleEndian<quint32>(m_file.constData() + kLengthOffset);
    const quint32 checksum = qFromLittleEndian<quint32>(m_file.constData() + kChecksumOffset);
    if (m_kx.checkRom(ptr(id), ptr(std::u16string()), KX_KEY, length, checksum) != 0) {
        end(false, QStringLiteral("校验失败，请重新更新"));
        return;
    }
    emit status(QStringLiteral("校验成功,启动设备。。。"));
    after(100, [this] {
        const std::u16string updateId = wide(kUpdateModeId);
        const int result = m_kx.finishUpdateRom(ptr(updateId), ptr(std::u16string()), KX_KEY);
        emit finished(result == 0);
    });
}

void FirmwareWriter::end(bool ok, const QString& text) {
    emit status(text);
    emit finished(ok);
}
