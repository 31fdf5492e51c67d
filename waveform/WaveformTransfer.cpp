// The waveform transfer. The command texts are sent exactly as real Halvio
// scopes were qualified with (mixed letter case included); do not tidy them.
#include "waveform/WaveformTransfer.h"

#include <QLocale>
#include <QString>
#include <cmath>

#include "io/IoError.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/ErrorHandler.h"
#include "support/UiServices.h"
#include "waveform/SourceNames.h"

namespace cvn {
namespace {

// The whole record of the scope comes in one block; this covers its
// largest record on the slowest link.
constexpr int kTransferTimeoutMs = 40000;

std::string plainNumber(double value) {
    if (std::nearbyint(value) == value && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    return QString::number(value, 'g', 15).toStdString();
}

}  // namespace

size_t RawDataSize(const RawData& data) {
    if (auto words = std::get_if<DataVector<int16_t>>(&data)) return words->size();
    if (auto bytes = std::get_if<DataVector<uint8_t>>(&data)) return bytes->size();
    return 0;
}

std::string FormatThousands(double value) {
    const double rounded = std::nearbyint(value);
    if (rounded == 0) return {};
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::DefaultNumberOptions);
    return locale.toString(rounded, 'f', 0).toStdString();
}

void TurnStreamingOff(io::IoSession& session) {
    session.Output("*IDN?");
    const std::string reply = session.EnterText();
    const size_t first = reply.find(',');
    if (first == std::string::npos)
        throw io::IoError(io::kIoMalformed,
                          "The identification reply has no model field: " + reply);
    const size_t second = reply.find(',', first + 1);
    const std::string model = reply.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    // One command per fragment the model contains, as the family expects.
    for (int i = FamilyFragmentCount(model); i > 0; --i) session.Output("WAVeform:STReaming OFF");
}

void GetWaveformData(io::IoSession& session, const std::string& sourceKeyword, PreambleBlock& block,
                     RawData& data) {
    try {
        const bool word = IsWordSource(sourceKeyword);
        TurnStreamingOff(session);
        session.Output(":WAVEFORM:VIEW MAIN");
        session.Output(":System:Header OFF");
        session.Output(":System:LONGform OFF");
        if (word) {
            session.Output(":WAVeform:FORMat WORD");
            session.Output(":WAVEFORM:BYTEORDER MSBFIRST");
        } else {
            session.Output(":WAVEFORM:BYTEORDER MSBFIRST");
            session.Output(":WAVeform:FORMat BYTE");
        }
        session.Output(":WAVeform:SOURce " + sourceKeyword);
        session.Output(":WAVeform:PREamble?");
        // Only the first ten fields are ours to read: index 10 takes the
        // source code afterwards, and scopes that add fields of their own
        // (text, or an empty one after a trailing comma) are still read.
        session.EnterNumbers(std::span<double>(block.data(), 10));
        session.Output(":WAVeform:DATA?");
        // The block's progress goes to the UI services while it is read,
        // and only then: the session serves other reads afterwards.
        struct ProgressHook {
            io::IoSession& session;
            ~ProgressHook() { session.SetBlockProgress({}); }
        } hook{session};
        session.SetBlockProgress([&sourceKeyword](size_t received, size_t total) {
            ui().transferProgress(sourceKeyword, received, total);
        });
        if (word)
            data = session.EnterWords();
        else
            data = session.EnterBytes();
    } catch (...) {
        errorHandler().HandleError("Inside GetWaveformData, Error ", 1, 202);
        return;
    }

    const double received = static_cast<double>(RawDataSize(data));
    if (block[2] != received) {
        MessageBoxRequest box;
        box.text =
            "Returned number of points incorrect.\r\nExpected = " + FormatThousands(block[2]) +
            "\r\nActual = " + FormatThousands(received) +
            "\r\nPossible problem with instrument connection.";
        box.caption = "Wavecatch for Corvane Halvio";
        box.icon = MsgIcon::Exclamation;
        box.buttons = MsgButtons::OK;
        ui().messageBox(box);
        errorHandler().HandleError("GetWaveformData, points returned  = " + plainNumber(received) +
                                       ", preamble " + plainNumber(block[2]),
                                   0, -1);
    }
}

void ReadSourceWaveform(const io::IoSessionPtr& session, RawData& data, PreambleBlock& block,
                        const std::string& sourceName, bool& cancel) {
    try {
        std::string keyword = sourceName;
        int32_t code = 0;
        SourceKeyword(keyword, code);
        if (!session) throw io::IoError(io::kIoNoSession, "No session is open");
        const int previous = session->Timeout();
        session->SetTimeout(kTransferTimeoutMs);
        GetWaveformData(*session, keyword, block, data);
        session->SetTimeout(previous);
        block[10] = code;
    } catch (...) {
        cancel = true;
        SetRunStopMode(false);
    }
}

}  // namespace cvn
