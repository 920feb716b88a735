// The download sequence: from the running firmware (or a reader left in its
// boot monitor by a failed update) through the boot monitor and the applet to
// a flash holding the built flash image.
#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "bootmonitor/BootRequests.h"
#include "bootmonitor/ImageSet.h"
#include "link/FlashWrRXCont.h"

namespace {

// What a stage shows (confirmation dialog, main window title) and logs.
struct TStageTexts {
  const char* Confirm;
  const char* Title;
  const char* Ok;
  const char* Ng;
};

constexpr TStageTexts kResourceStage{"リソース作成中...", "リソース作成", "OK：リソース作成",
                                     "NG：リソース作成"};
constexpr TStageTexts kBootStage{"ブート遷移中...", "ブート遷移", "OK：ブート遷移中",
                                 "NG：ブート遷移中"};
constexpr TStageTexts kAppletStage{"appletの書き込み中...", "applet", "OK：アプレット書き込み",
                                   "NG：アプレット書き込み"};
constexpr TStageTexts kUpdateStage{"アップデート中...", "アップデート", "OK：アップデート",
                                   "NG：アップデート"};

constexpr char kIfbModeSetLine[] = "================================";

}  // namespace

bool TFlashWrRXCont::DownloadFirmware() {
  bool ok = false;
  std::unique_ptr<TImageSet> images;
  try {
    FProgressCount = 0;
    SetGaugePosition(0);
    if (!FImageSource) throw TImageSetError("no image source");
    images = std::make_unique<TImageSet>(*FImageSource, FHost);
    images->FTempRoot = FImageTempRoot;

    uint32_t bufferAddress = 0;
    uint32_t bufferSize = kDefaultAppletBufferSize;
    ok = DownloadResources(*images);
    if (ok) ok = DownloadBootTransition();
    if (ok)
      ok = DownloadApplet(*images, bufferAddress, bufferSize);
    else
      AddLog(kAppletStage.Ng, true);
    ShowDownloadStage(kUpdateStage.Confirm, kUpdateStage.Title);
    SetGaugePosition(0);
    if (ok) ok = DownloadUpdate(*images, bufferAddress, bufferSize);
  } catch (const TImageSetError& e) {
    ok = false;
    AddLog(std::string("Download stopped, image set: ") + e.what(), false);
  } catch (const TReplyWordError& e) {
    ok = false;
    AddLog(std::string("Download stopped, reply word: ") + e.what(), false);
  } catch (const std::exception& e) {
    ok = false;
    AddLog(std::string("Download stopped: ") + e.what(), false);
  } catch (...) {
    ok = false;
    AddLog("Download stopped: unknown error", false);
  }
  // Every exit: the files and their folder go first, then the buffers.
  if (images) images->RemoveImageFiles();
  images.reset();
  return ok;
}

void TFlashWrRXCont::ShowDownloadStage(const char* confirmText, const char* title) {
  FUi.SetConfirmText(confirmText);
  FUi.SetStageTitle(title);
  FHost.ProcessMessages();
}

// ---- stage 1: resources ---------------------------------------------------

bool TFlashWrRXCont::DownloadResources(TImageSet& images) {
  ShowDownloadStage(kResourceStage.Confirm, kResourceStage.Title);
  // A missing image or an unwritable file throws: no stage line for that.
  images.ExtractImages();
  // A damaged image set must never reach the reader's flash.
  const bool ok = images.LoadImages() && images.ImagesIntact() && images.BuildFlashImage();
  if (!ok) AddLog(images.FLastError, false);
  AddLog(ok ? kResourceStage.Ok : kResourceStage.Ng, true);
  return ok;
}

// ---- stage 2: boot transition -----------------------------------------------

bool TFlashWrRXCont::DownloadBootTransition() {
  ShowDownloadStage(kBootStage.Confirm, kBootStage.Title);
  const bool trace = FTxTrace != 0;
  if (!GetIFBMode(FIfbMode, trace)) {
    FHost.Sleep(kIfbModeRetryPauseMs);
    GetIFBMode(FIfbMode, trace);  // whatever it gives is used
  }
  FHost.Sleep(kIfbModeSettleMs);

  bool ok = true;
  if (FLinkKind == 1)
    ok = SwitchIfbToBoot();
  else if (FReWriteMode)
    IfbCmdThrough();  // a board on the serial path lets the boot monitor through

  if (ok) {
    // In re-write mode the reader is still in its boot monitor.
    if (!FReWriteMode) {
      ClearRxBuffer();
      SetProgMode();
    }
    ok = false;
    for (int attempt = 0; attempt < kRunBootAttempts && !ok; ++attempt) {
      ClearRxBuffer();
      ok = RunBoot();
    }
  }
  AddLog(ok ? kBootStage.Ok : kBootStage.Ng, true);
  return ok;
}

// Over TCP/IP: the board's mode word with the boot selection, bit 7 set in
// the word sent only; the stored word goes back to the board after the update.
bool TFlashWrRXCont::SwitchIfbToBoot() {
  const uint16_t boot = static_cast<uint16_t>((FIfbMode & ~kIfbModeSelectMask) | kIfbModeBoot);
  FIfbMode = boot;
  const bool ok = IfbDousaModeSet(static_cast<uint16_t>(boot | kIfbModeSendFlag)) != 0;
  AddLog(kIfbModeSetLine, false);
  FHost.Sleep(kIfbModeSetPauseMs);
  if (!ok) return false;
  const bool trace = FTxTrace != 0;
  for (int attempt = 0; attempt < kBootRomVersionAttempts; ++attempt) {
    if (ReadRomVersion(trace)) return true;
    // A reader left in its boot monitor does not answer; in re-write mode
    // that is expected.
    if (FReWriteMode) return true;
  }
  return false;
}

// ---- stage 3: applet ------------------------------------------------------

bool TFlashWrRXCont::DownloadApplet(const TImageSet& images, uint32_t& bufferAddress,
                                    uint32_t& bufferSize) {
  ShowDownloadStage(kAppletStage.Confirm, kAppletStage.Title);
  SetGaugePosition(0);
  SetGaugeMax(static_cast<int32_t>(images.FAppletSize));
  uint8_t reply[kBootReplyBufferSize] = {};
  bool ok = SendFile(kAppletAddress, images.FAppletSize, reply) &&
            TransferFile(images.FApplet.data(), images.FAppletSize) &&
            WriteWord(kMailboxArg0, 1u, reply) && WriteWord(kMailboxCommand, kAppletInit, reply) &&
            RunApplet(reply);
  // A reply is converted only once it was read whole.
  if (ok && (ok = ReadWord(kMailboxArg1, reply))) bufferAddress = ParseReplyWord(reply);
  if (ok && (ok = ReadWord(kMailboxArg2, reply))) bufferSize = ParseReplyWord(reply);
  if (ok && bufferSize == 0) {
    // No chunk could ever pass through an empty buffer.
    AddLog("NG: applet buffer size 0", false);
    ok = false;
  }
  AddLog(ok ? kAppletStage.Ok : kAppletStage.Ng, true);
  return ok;
}

// ---- stage 4: update ------------------------------------------------------

TFlashWrRXCont::TDownloadChunk TFlashWrRXCont::NextDownloadChunk(uint32_t offset,
                                                                 uint32_t remaining,
                                                                 uint32_t bufferSize) {
  TDownloadChunk chunk;
  if (offset >= kSkipWindowFirst && offset <= kSkipWindowLast) {
    chunk.Skip = std::min(kSkipWindowLast + 1 - offset, remaining);
    return chunk;
  }
  uint32_t count = remaining < bufferSize ? remaining : bufferSize;
  if (offset < kSkipWindowFirst && uint64_t{offset} + count >= kSkipWindowFirst)
    count = kSkipWindowFirst - offset;
  chunk.Send = true;
  chunk.Count = count;
  return chunk;
}

bool TFlashWrRXCont::DownloadUpdate(const TImageSet& images, uint32_t bufferAddress,
                                    uint32_t bufferSize) {
  const uint32_t length = images.FFlashSize;
  FProgressCount = 0;
  SetGaugeMax(static_cast<int32_t>(length));
  uint32_t remaining = length;
  uint32_t offset = 0;
  bool ok = true;
  while (remaining > 0) {
    const TDownloadChunk chunk = NextDownloadChunk(offset, remaining, bufferSize);
    uint32_t advance = chunk.Skip;
    if (chunk.Send) {
      uint32_t written = 0;
      ok = WriteChunk(images.FFlash.data() + offset, offset, chunk.Count, bufferAddress, bufferSize,
                      written);
      // Nothing written would repeat the chunk for ever, a negative or too
      // large count would run past the data: the update cannot go on.
      if (ok && (written == 0 || static_cast<int32_t>(written) < 0 || written > chunk.Count)) {
        AddLog("NG: applet wrote " + std::to_string(static_cast<int32_t>(written)) + " of " +
                   std::to_string(chunk.Count) + " bytes",
               false);
        ok = false;
      }
      if (!ok) break;
      advance = written;
    }
    remaining -= advance;
    offset += advance;
    FProgressCount = static_cast<int32_t>(length - remaining);
    if (FProgressCount > FGaugePosition) SetGaugePosition(FProgressCount);
    FHost.ProcessMessages();
  }
  AddLog(ok ? kUpdateStage.Ok : kUpdateStage.Ng, true);
  return ok;
}

bool TFlashWrRXCont::WriteChunk(const uint8_t* data, uint32_t offset, uint32_t count,
                                uint32_t bufferAddress, uint32_t bufferSize, uint32_t& written) {
  uint8_t reply[kBootReplyBufferSize] = {};
  // The announced length is the applet's buffer size, whatever the chunk.
  const bool ok = SendFile(bufferAddress, bufferSize, reply) && TransferFile(data, count) &&
                  WriteWord(kMailboxCommand, kAppletWrite, reply) &&
                  WriteWord(kMailboxArg0, bufferAddress, reply) &&
                  WriteWord(kMailboxArg1, count, reply) && WriteWord(kMailboxArg2, offset, reply) &&
                  RunApplet(reply) && ReadWord(kMailboxArg0, reply);
  if (ok) written = ParseReplyWord(reply);
  return ok;
}
