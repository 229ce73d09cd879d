#include "firmwarewriter.h"

#include "kx/firmware.h"
#include "kx/firmwaresession.h"
#include "kx/kx.h"
#include "weblog/weblog.h"

#include <QFile>
#include <QTimer>
#include <QtEndian>

namespace {

namespace fw = kx::firmware;

// The update file's first two 32-bit values: the magic and a zero.
constexpr int kHeaderSize = 8;

} // namespace

FirmwareWriter::FirmwareWriter(kx::FirmwareSession* session, const FirmwareWaits& waits,
                               QObject* parent)
    : QObject(parent), m_session(session), m_waits(waits) {}

void FirmwareWriter::after(int ms, std::function<void()> step) {
    QTimer::singleShot(ms, this, std::move(step));
}

bool FirmwareWriter::start(const QString& devicePath, const QString& filePath) {
    if (!m_session || !m_session->devicePresent(devicePath))
        return false;
    QFile f(filePath);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // One byte more than the buffer tells a file that would not fit.
    const QByteArray bytes = f.read(fw::kFileSize + 1);
    if (bytes.size() < kHeaderSize || bytes.size() > fw::kFileSize ||
        qFromLittleEndian<quint32>(bytes.constData()) != fw::kMagic ||
        qFromLittleEndian<quint32>(bytes.constData() + 4) != 0) {
        qCInfo(lcUpdateDlg).noquote() << "firmware file is not an update file";
        return false;
    }
    m_file = QByteArray(fw::kFileSize, '\0');
    m_file.replace(0, bytes.size(), bytes);
    m_length = qFromLittleEndian<quint64>(m_file.constData() + fw::kLengthOffset);
    // The image must lie inside the bytes the file holds and inside its region, which ends where
    // the length field starts: a larger length would send what lies past them.
    if (m_length > quint64(qMin(qMax(0, bytes.size() - fw::kImageOffset), fw::kMaxImageSize))) {
        qCInfo(lcUpdateDlg).noquote()
            << QStringLiteral("firmware image length %1 exceeds the file").arg(m_length);
        return false;
    }
    m_blocks = static_cast<quint32>(m_length / KX_ROM_BLOCK + 1);
    // Whether the switch was taken shows when the update-mode device appears, or does not.
    m_session->enterUpdateMode(devicePath);
    after(m_waits.restart, [this] { askForUpdateDevice(1); });
    return true;
}

void FirmwareWriter::askForUpdateDevice(int attempt) {
    if (m_session->updateDevicePresent()) {
        erase();
        return;
    }
    // Asked after a restart's time, again after as long, a last time after a longer wait.
    if (attempt == 1)
        after(m_waits.restart, [this] { askForUpdateDevice(2); });
    else if (attempt == 2)
        after(m_waits.lastLook, [this] { askForUpdateDevice(3); });
    else
        end(false, tr("鼠标更新失败。。。"));
}

void FirmwareWriter::erase() {
    if (!m_session->canUpdate()) {
        end(false, tr("鼠标更新失败。。。"));
        return;
    }
    // A refused erase shows in the first block, which the device then refuses.
    m_session->erase();
    after(m_waits.erase, [this] { writeBlock(0); });
}

void FirmwareWriter::writeBlock(quint32 index) {
    const quint64 offset = quint64(index) * KX_ROM_BLOCK;
    const int count = static_cast<int>(qMin<quint64>(m_length - offset, KX_ROM_BLOCK));
    const auto* image =
        reinterpret_cast<const uint8_t*>(m_file.constData() + fw::kImageOffset + offset);
    // A block the device refused leaves a hole in the image: nothing after it can make it whole.
    if (!m_session->writeBlock(image, count, static_cast<uint32_t>(offset))) {
        end(false, tr("更新失败"));
        return;
    }
    if (index + 1 < m_blocks) {
        after(m_waits.block, [this, index] { writeBlock(index + 1); });
        return;
    }
    emit status(tr("更新成功"));
    after(m_waits.block, [this] { check(); });
}

void FirmwareWriter::check() {
    const quint32 length = qFromLittleEndian<quint32>(m_file.constData() + fw::kLengthOffset);
    const quint32 checksum = qFromLittleEndian<quint32>(m_file.constData() + fw::kChecksumOffset);
    if (!m_session->check(length, checksum)) {
        end(false, tr("校验失败，请重新更新"));
        return;
    }
    emit status(tr("校验成功,启动设备。。。"));
    after(m_waits.finish, [this] { emit finished(bool(m_session->finish())); });
}

void FirmwareWriter::end(bool ok, const QString& text) {
    emit status(text);
    emit finished(ok);
}
