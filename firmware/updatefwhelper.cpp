#include "firmware/updatefwhelper.h"

#include "device/runningmode.h"

#include "device/answerpayload.h"
#include "device/ownthread.h"
#include "firmware/firmwarelog.h"
#include "firmware/updateerror.h"
#include "wire/messageids.h"

#include <QFile>
#include <QFileInfo>

namespace {

// No controller holds more: a larger file is not read into memory.
constexpr qint64 MAX_IMAGE_BYTES = 64 * 1024 * 1024;

QString hex(uint32_t value)
{
    return QString::number(value, 16);
}

} // namespace

UpdateFwHelper::UpdateFwHelper(RequestChannel *requests, QObject *parent) : QObject(parent), m_requests(requests)
{
    registerDeviceRecordMetaTypes(); // the fixed-width types of the signals, for queued calls
    connect(m_requests, &RequestChannel::answered, this, &UpdateFwHelper::answered);
    connect(m_requests, &RequestChannel::bootAnswered, this, &UpdateFwHelper::bootAnswered);
    connect(m_requests, &RequestChannel::failed, this, &UpdateFwHelper::failed);
}

QString UpdateFwHelper::errorMessage(uint32_t errorCode)
{
    return tr("An update problem has occurred. Error 0x%1").arg(hex(errorCode));
}

uint32_t UpdateFwHelper::checkImageFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    // Only a regular file: a FIFO or a device would never end, or end anywhere.
    if (!info.exists() || !info.isFile())
        return UpdateError::File;
    if (info.size() > MAX_IMAGE_BYTES)
        return UpdateError::Size;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return UpdateError::File;
    // Nothing to write is never right, whatever the bootloader. Length, header, variant and
    // checksum depend on the bootloader's version (another version takes the file as it is):
    // they are checked once it has told it, before any page.
    if (file.size() == 0)
        return UpdateError::Length;
    return UpdateError::None;
}

QString UpdateFwHelper::imageErrorMessage(uint32_t errorCode, const QString &fileName)
{
    const QString code = hex(errorCode);
    switch (errorCode) {
    case UpdateError::File:
        return tr("The firmware file %1 cannot be opened (Error 0x%2).").arg(fileName, code);
    case UpdateError::Size:
        return tr("The firmware image is larger than the controller's flash (Error 0x%1). Use a firmware file made "
                  "for this controller.").arg(code);
    case UpdateError::Length:
        return tr("The file is not a firmware image for this controller: its length does not fit (Error 0x%1). Use "
                  "a firmware file made for this controller.").arg(code);
    case UpdateError::Header:
        return tr("The file is not a firmware image for this controller: its header is missing (Error 0x%1). Use a "
                  "firmware file made for this controller.").arg(code);
    case UpdateError::Variant:
        return tr("The firmware image is made for another controller variant (Error 0x%1). Use a firmware file made "
                  "for this controller.").arg(code);
    case UpdateError::Checksum:
        return tr("The file is not a firmware image for this controller: its checksum does not match (Error 0x%1). "
                  "Use a firmware file made for this controller.").arg(code);
    default:
        return errorMessage(errorCode);
    }
}

void UpdateFwHelper::setState(UpdateState state)
{
    m_state = state;
    m_running = state != UpdateIdle && state != StartApplication && state != UpdateFailed;
    // From the bootloader's first answer to the end of the update.
    setLowLatency(state >= BlGet && state <= StartApplication);
}

void UpdateFwHelper::setLowLatency(bool on)
{
    if (on == m_lowLatency)
        return;
    m_lowLatency = on;
    emit lowLatencyWanted(on);
}

// ---- start and tick --------------------------------------------------------------------

void UpdateFwHelper::startUpdate(const QString &fileName)
{
    if (postToOwnThread(this, [this, fileName] { startUpdate(fileName); }))
        return;
    if (m_running)
        return;
    m_failureText.clear();
    m_restartingOld = false;
    // An image that no bootloader could take is refused before anything is sent: the
    // controller keeps running.
    const uint32_t imageProblem = checkImageFile(fileName);
    if (imageProblem != UpdateError::None) {
        firmwareDebug() << "Image refused before the update, error 0x" + hex(imageProblem);
        emit on_updateFwState(tr("Update error"), false, false, true);
        emit sendTextForMsgBox(imageErrorMessage(imageProblem, fileName), true);
        emit updateFinished(false, imageProblem);
        return;
    }
    m_fileName = fileName;
    m_tickCounter = 0;
    m_syncsSent = 0;
    m_getWaitTicks = -1;
    m_errorCode = UpdateError::None;
    m_probeTicket = 0;
    m_bootloaderWaiting = false;
    m_ticket = 0;
    m_answerLimitMs = BOOTLOADER_ANSWER_LIMIT_MS;
    m_resetSends = 0;
    m_commands.reset();
    m_info = Bootloader::BootloaderInfo();

    switch (m_deviceState) {
    case DEVICE_CONNECTED:
        setState(UpdateResetting);
        emit updateProgressBar(0, 0, 0, QStringLiteral("")); // a busy bar without text
        emit on_updateFwState(tr("Resetting device"), true, false, false);
        sendReset();
        break;
    case DEVICE_RUNNING:
        emit sendTextForMsgBox(RunningMode::refusal(tr("The device is running. Please restart to update the firmware.")), true);
        emit updateFinished(false, UpdateError::None);
        break;
    default:
        firmwareDebug() << "Start update";
        setState(UpdateWaitDevice);
        emit on_updateFwState(tr("Waiting for device to connect"), true, false, false);
        toBootloader(false);
        break;
    }
}

void UpdateFwHelper::updateTick()
{
    switch (m_state) {
    case UpdateResetAccepted:
    case UpdateWaitDevice:
        ++m_tickCounter;
        if (m_deviceState != DEVICE_CONNECTED)
            emit updateProgressBar(m_tickCounter, 0, SYNC_TICKS, tr("%1 s").arg(10 - m_tickCounter / 20));
        if (m_tickCounter < SYNC_TICKS)
            sendSync();
        else
            endSyncing();
        break;
    case BlGet:
        if (m_getWaitTicks >= 0 && (m_lineQuiet() || ++m_getWaitTicks >= GET_QUIET_TICKS)) {
            m_getWaitTicks = -1;
            sendGet();
        }
        break;
    case UpdateFailed:
        reportFailure();
        break;
    default:
        break;
    }
}

void UpdateFwHelper::endSyncing()
{
    firmwareDebug() << "Device was not connected";
    // Idle before the device model hears of it: its answer may come back at once.
    setState(UpdateIdle);
    const QString text = tr("Device was not connected");
    emit on_updateFwState(text, false, false, true);
    emit sendTextForMsgBox(text, true);
    toVyx();
    emit updateFinished(false, UpdateError::None);
}

void UpdateFwHelper::probeTick(bool portOpen, bool lineQuiet)
{
    if (!portOpen) {
        m_probeTicks = 0;
        m_probeTicket = 0;
        return;
    }
    if (m_state != UpdateIdle || m_deviceState != DEVICE_DISCONNECTED || m_bootloaderWaiting) {
        m_probeTicks = 0;
        return;
    }
    if (m_probeTicks < PROBE_AFTER_TICKS)
        ++m_probeTicks;
    if (m_probeTicks < PROBE_AFTER_TICKS || !lineQuiet)
        return;
    m_probeTicks = PROBE_AFTER_TICKS - PROBE_EVERY_TICKS;
    // Only the first byte after the sync's echo is its answer.
    // It holds the line for one tick only: it goes between two detection requests and is
    // over before the next one is due.
    m_probeTicket = m_requests->sendBytes(Bootloader::syncRequest(), BootShape::FirstByte, true, false,
                                          PROBE_SLOT_MS);
}

// ---- failures ----------------------------------------------------------------------------

void UpdateFwHelper::fail(uint32_t errorCode)
{
    m_errorCode = errorCode;
    setState(UpdateFailed);
}

void UpdateFwHelper::failNow(uint32_t errorCode)
{
    m_failureText.clear(); // no image error any more: the controller did not answer
    fail(errorCode);
    emit on_updateFwState(tr("Update error"), false, true, true);
    toVyx();
}

void UpdateFwHelper::reportFailure()
{
    firmwareDebug() << "Update fw error: 0x" + hex(m_errorCode);
    emit on_updateFwState(tr("Update error"), false, true, true);
    setState(UpdateIdle);
    emit sendTextForMsgBox(m_failureText.isEmpty() ? errorMessage(m_errorCode) : m_failureText, true);
    toVyx();
    emit updateFinished(false, m_errorCode);
}

void UpdateFwHelper::failed(RequestTicket ticket, RequestFailure reason)
{
    if (m_syncTickets.remove(ticket))
        return; // the next tick sends another sync
    if (ticket == m_probeTicket) {
        m_probeTicket = 0;
        return;
    }
    if (ticket == 0 || ticket != m_ticket)
        return;
    m_ticket = 0;
    firmwareDebug() << "Request failed:" << requestFailureName(reason) << "in state" << m_state;
    // Without a port, portClosed() ends the update.
    if (reason == RequestFailure::PortClosed || reason == RequestFailure::NoPort)
        return;
    if (m_state == UpdateIdle || m_state == UpdateFailed)
        return;
    // A reset request dropped unsent (another request lost before it) is sent again: the
    // controller has not heard it.
    if (m_state == UpdateResetting && reason == RequestFailure::Dropped && m_resetSends < RESET_SENDS) {
        sendReset();
        return;
    }
    // A start command left unanswered ends the update too: nothing else would.
    failNow(UpdateError::Timeout);
}

void UpdateFwHelper::portClosed()
{
    m_probeTicket = 0;
    if (m_bootloaderWaiting.exchange(false))
        toVyx(); // the controller behind the next port may be another one
    if (m_state == UpdateIdle)
        return;
    // No tick of the firmware page follows a lost port: report at once.
    if (m_state != UpdateFailed) {
        m_errorCode = UpdateError::Timeout;
        m_failureText.clear();
    }
    reportFailure();
}

void UpdateFwHelper::deviceConnectionState(Device_State_e deviceState)
{
    m_deviceState = deviceState;
    if (deviceState != DEVICE_DISCONNECTED)
        m_probeTicket = 0; // a device is known: no answer is a probe's any more
    if (deviceState == DEVICE_CONNECTED || deviceState == DEVICE_RUNNING)
        m_bootloaderWaiting = false;
    // The device model confirms the end of an update late (one event round): a pending
    // error is still reported by the next tick.
    if (deviceState != DEVICE_DISCONNECTED || m_state == UpdateIdle || m_state == UpdateFailed)
        return;
    const bool wasRunning = m_running;
    setState(UpdateIdle);
    if (wasRunning) {
        emit on_updateFwState(tr("Update stopped"), false, false, true);
        emit updateFinished(false, UpdateError::None);
    }
}

// ---- requests ------------------------------------------------------------------------------

void UpdateFwHelper::sendReset()
{
    ++m_resetSends;
    // A late answer of an earlier request (a slow status poll's) must not pass for the
    // reset's: a controller that took the reset cannot be asked again.
    m_ticket = m_requests->send(VyxMsg::FIRMWARE_UPDATE_ENTRY, QByteArray(), false, true, RESET_ANSWER_LIMIT_MS,
                                RequestChannel::AnswerMatch::OwnId);
}

void UpdateFwHelper::sendSync()
{
    ++m_syncsSent;
    m_syncTickets.insert(m_requests->sendBytes(Bootloader::syncRequest(), BootShape::Ack, true, false));
}

bool UpdateFwHelper::sendCommand(int index)
{
    if (!m_commands.isSupported(index))
        return false;
    const QByteArray request = Bootloader::commandRequest(Bootloader::CommandTable::code(index));
    if (m_state == BlGetInfo)
        sendRaw(request, BootShape::FixedData, Bootloader::GET_INFO_LENGTH); // whatever its count byte says
    else if (expectsDataAnswer())
        sendRaw(request, BootShape::CountedData);
    else
        sendRaw(request);
    return true;
}

void UpdateFwHelper::sendRaw(const QByteArray &bytes, BootShape shape, int fixedLength)
{
    m_ticket = m_requests->sendBytes(bytes, shape, false, true, m_answerLimitMs, fixedLength);
}

void UpdateFwHelper::toBootloader(bool knownDevice)
{
    emit setBootloaderProtocol(knownDevice);
    m_requests->switchProtocol();
}

void UpdateFwHelper::bootloaderAnswered(bool knownDevice)
{
    emit finishPoll(knownDevice);
    m_requests->switchProtocol();
}

void UpdateFwHelper::toVyx()
{
    emit setVyxProtocol();
    m_requests->switchProtocol();
}

// ---- answers -------------------------------------------------------------------------------

void UpdateFwHelper::answered(RequestTicket ticket, const VYX_Protocol::VYX_MSG &msg)
{
    if (ticket == 0 || ticket != m_ticket)
        return;
    m_ticket = 0;
    if (m_state != UpdateResetting)
        return;
    if (msg.msgId != VyxMsg::FIRMWARE_UPDATE_ENTRY) {
        firmwareDebug() << "Answer 0x" + hex(msg.msgId) << "in the place of the reset's";
        failNow(UpdateError::Timeout);
        return;
    }
    const uint8_t answer = AnswerPayload(msg).answerCode();
    if (answer != ANSWER_OK) {
        firmwareDebug() << "Reset refused, answer 0x" + hex(answer);
        fail(UpdateError::ResetRefused);
        return;
    }
    firmwareDebug() << "Device reset";
    m_tickCounter = 0;
    setState(UpdateResetAccepted);
    emit on_updateFwState(tr("Device auto-connection"), true, false, false);
    toBootloader(true);
    firmwareDebug() << "Reset accepted " << m_state;
}

bool UpdateFwHelper::expectsDataAnswer() const
{
    return m_state == BlGet || m_state == BlGetId || m_state == BlGetInfo || m_state == BlGetSecurity;
}

void UpdateFwHelper::bootAnswered(RequestTicket ticket, const BootAnswer &answer)
{
    if (m_syncTickets.remove(ticket)) {
        firmwareDebug() << "sync answered, ack" << answer.acknowledged;
        if (m_state == UpdateResetAccepted || m_state == UpdateWaitDevice)
            onBootloaderFound(answer.acknowledged);
        return;
    }
    if (ticket == m_probeTicket) {
        m_probeTicket = 0;
        handleProbeAnswer(answer);
        return;
    }
    if (ticket == 0 || ticket != m_ticket)
        return;
    m_ticket = 0;
    // No request of this update is in flight: nothing to act on.
    if (m_state == UpdateIdle || m_state == UpdateResetting || m_state == BlReady || m_state == UpdateFailed)
        return;
    firmwareDebug() << "answer, ack" << answer.acknowledged << "data" << answer.data.toHex() << "closing ack"
                    << answer.closingAck;
    if (!answer.acknowledged) {
        onNack();
        return;
    }
    if (expectsDataAnswer()) {
        onAnswerData(answer.data);
        if (answer.closingAck)
            continueIdentification();
        else
            fail(UpdateError::Nack);
        return;
    }
    onAck();
}

void UpdateFwHelper::handleProbeAnswer(const BootAnswer &answer)
{
    // Only an ACK counts: 0x1F also ends every VYX frame, and no byte of a late answer of a
    // running firmware (a serial number may hold 0x79) must pass for a bootloader.
    if (m_state != UpdateIdle || m_deviceState != DEVICE_DISCONNECTED || !answer.acknowledged)
        return;
    m_bootloaderWaiting = true;
    firmwareDebug() << "A controller waits in its bootloader";
    // The queue goes first: a frame request waiting behind the sync must not reach the
    // bootloader when the line is freed.
    bootloaderAnswered(false);
    emit on_updateFwState(tr("A controller waits in its bootloader. Choose the firmware and update it."), false,
                          false, true);
    emit bootloaderFound();
}

void UpdateFwHelper::onAnswerData(const QByteArray &data)
{
    using namespace Bootloader;
    switch (m_state) {
    case BlGet:
        decodeGet(data, &m_info, &m_commands);
        firmwareDebug() << "Bootloader version: " + hex(m_info.version);
        break;
    case BlGetId:
        decodeGetId(data, &m_info);
        firmwareDebug() << "PID: " + hex(m_info.PID);
        break;
    case BlGetInfo:
        decodeGetInfo(data, &m_info);
        firmwareDebug() << "fead3: " + hex(m_info.fead3) << "fead4: " + hex(m_info.fead4) << "Mcu: " + hex(m_info.Mcu)
                        << "Flash: " + QString::number(m_info.Flash) << "uid1: " + hex(m_info.uid1)
                        << "uid2: " + hex(m_info.uid2) << "uid3: " + hex(m_info.uid3);
        break;
    case BlGetSecurity:
        decodeGetSecurity(data, &m_info);
        firmwareDebug() << "Mcu: " + hex(m_info.Mcu) << "uid1: " + hex(m_info.uid1) << "uid2: " + hex(m_info.uid2)
                        << "AES is present: " << m_info.aesPresent;
        break;
    default:
        break;
    }
}

void UpdateFwHelper::onBootloaderFound(bool acknowledged)
{
    const bool knownDevice = m_state == UpdateResetAccepted;
    if (acknowledged) {
        bootloaderAnswered(knownDevice);
        firmwareDebug() << (knownDevice ? "Bootloader start device" : "bootloader start unknown");
    } else {
        firmwareDebug() << "BL call get";
    }
    m_answerLimitMs = BOOTLOADER_ANSWER_LIMIT_MS;
    setState(BlGet);
    // A sync each tick: on a slow line the bootloader answers the others after this one.
    // Their answers must not pass for GET's: GET waits until they have come.
    if (m_syncsSent > 1 && !m_lineQuiet()) {
        firmwareDebug() << "GET waits for the answers to the other syncs";
        m_getWaitTicks = 0;
        return;
    }
    sendGet();
}

void UpdateFwHelper::sendGet()
{
    firmwareDebug() << "Com: GET";
    sendCommand(Bootloader::CmdGet);
}

void UpdateFwHelper::continueIdentification()
{
    using namespace Bootloader;
    switch (m_state) {
    case BlGet:
        setState(BlGetId);
        if (!sendCommand(CmdGetId))
            fail(UpdateError::NotOffered);
        break;
    case BlGetId:
        setState(BlGetInfo);
        firmwareDebug() << "Get ID";
        if (!sendCommand(CmdGetInfo))
            fail(UpdateError::NotOffered);
        break;
    case BlGetInfo:
        setState(BlGetSecurity);
        firmwareDebug() << "Get ID Complex";
        if (!sendCommand(CmdGetSecurity)) {
            m_info.aesPresent = false;
            setState(BlReady);
            startWriting();
        }
        break;
    case BlGetSecurity:
        setState(BlReady);
        firmwareDebug() << "Get Device SN";
        startWriting();
        break;
    default:
        break;
    }
}

void UpdateFwHelper::startWriting()
{
    m_retried = false;
    m_startNacks = 0;
    firmwareDebug() << "Filename: " + m_fileName;
    firmwareDebug() << "File BL version: 0x" + hex(m_info.version);
    QFile file(m_fileName);
    uint32_t problem = UpdateError::None;
    if (!QFileInfo(m_fileName).isFile() || !file.open(QIODevice::ReadOnly))
        problem = UpdateError::File; // gone since the update began
    else if (file.size() > MAX_IMAGE_BYTES)
        problem = UpdateError::Size;
    const QByteArray content = problem == UpdateError::None ? file.readAll() : QByteArray();
    firmwareDebug() << "File len: 0x" + hex(uint32_t(content.size()));
    m_image = FirmwareImage(content, FirmwareImage::layoutFor(m_info));
    m_pagePosition = 0;
    if (problem == UpdateError::None)
        problem = m_image.check(m_info);
    if (problem != UpdateError::None) {
        restartOldApplication(problem);
        return;
    }
    firmwareDebug() << "Length file: " << m_image.fileSize() << "Char length: " << content.size();
    emit on_updateFwState(tr("Firmware writing"), true, false, false);
    emit updateProgressBar(0, 0, 100, QString());
    m_answerLimitMs = WRITE_ANSWER_LIMIT_MS; // for every answer from now on
    if (m_image.layout() == FirmwareImage::Layout::Encrypted) {
        setState(AesBegin);
        if (!sendCommand(Bootloader::CmdAesBegin))
            fail(UpdateError::NotOffered);
    } else {
        setState(WriteCommand);
        sendWriteCommand();
    }
}

// The image does not fit what the bootloader reported, and no page was written: the old
// application is started again, so that the controller runs as before, and the update
// ends with the image error.
void UpdateFwHelper::restartOldApplication(uint32_t imageProblem)
{
    firmwareDebug() << "Image refused by the bootloader's data, error 0x" + hex(imageProblem);
    m_errorCode = imageProblem;
    m_failureText = imageErrorMessage(imageProblem, m_fileName);
    m_restartingOld = true;
    m_startNacks = 0;
    setState(StartApplication);
    if (!sendCommand(Bootloader::CmdStart))
        fail(imageProblem);
}

void UpdateFwHelper::sendWriteCommand()
{
    const int command = m_image.layout() == FirmwareImage::Layout::Encrypted ? Bootloader::CmdWriteAesPage
                                                                            : Bootloader::CmdWritePage;
    if (!sendCommand(command))
        fail(UpdateError::NotOffered);
}

void UpdateFwHelper::onAck()
{
    switch (m_state) {
    case AesBegin:
        setState(AesBlockSent);
        sendRaw(Bootloader::aesBlockRequest(m_image.aesBlock()));
        break;
    case AesBlockSent:
        firmwareDebug() << "Start writing AES";
        setState(WriteCommand);
        sendWriteCommand();
        break;
    case WriteCommand:
        setState(WriteAddress);
        firmwareDebug() << "Send Add";
        sendRaw(Bootloader::addressRequest(uint32_t(m_pagePosition)));
        break;
    case WriteAddress:
        setState(WritePage);
        firmwareDebug() << "Send page";
        sendRaw(Bootloader::pageRequest(m_image.pageAt(m_pagePosition)));
        break;
    case WritePage:
        sendNextAfterPage();
        break;
    case StartApplication:
        if (m_restartingOld)
            fail(m_errorCode);
        else
            finishSuccess();
        break;
    default:
        break;
    }
}

void UpdateFwHelper::sendNextAfterPage()
{
    m_pagePosition += Bootloader::PAGE_SIZE;
    // A short last page (unchecked image) must not take the bar past 100.
    const qint64 done = qMin<qint64>(m_pagePosition, m_image.fileSize());
    emit updateProgressBar(int(done * 100 / m_image.fileSize()), 0, 100, QString());
    if (m_image.imageLength() <= m_pagePosition) {
        setState(StartApplication);
        firmwareDebug() << "End of file";
        if (!sendCommand(Bootloader::CmdStart))
            fail(UpdateError::NotOffered);
        return;
    }
    setState(WriteCommand);
    sendWriteCommand();
}

void UpdateFwHelper::finishSuccess()
{
    setState(UpdateIdle);
    emit on_updateFwState(tr("Update finished"), false, false, true);
    emit sendTextForMsgBox(tr("Firmware update successful"), true);
    toVyx();
    emit updateFinished(true, UpdateError::None);
}

void UpdateFwHelper::restartImage()
{
    m_retried = true;
    m_pagePosition = 0;
    setState(WriteCommand);
    emit updateProgressBar(0, 0, 100, QString());
    sendWriteCommand();
}

void UpdateFwHelper::onNack()
{
    switch (m_state) {
    case WriteCommand:
    case WriteAddress:
    case WritePage:
        if (m_retried)
            fail(UpdateError::Length);
        else
            restartImage();
        break;
    case StartApplication:
        firmwareDebug() << "Finish a run";
        if (++m_startNacks > MAX_START_NACKS) {
            fail(m_restartingOld ? m_errorCode : UpdateError::Nack);
            break;
        }
        m_answerLimitMs = BOOTLOADER_ANSWER_LIMIT_MS;
        sendCommand(Bootloader::CmdStart);
        break;
    default:
        firmwareDebug() << "Nack error, state: " << m_state;
        fail(UpdateError::Nack);
        break;
    }
}
