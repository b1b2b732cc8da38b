// The Telnet framing of a remote serial port (RFC 2217, COM-PORT-OPTION):
// escaping of what the client sends, and an incremental reader of what the
// server sends. Pure byte work, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
namespace rfc2217 {

using Bytes = std::vector<std::uint8_t>;

// Telnet commands.
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

// Telnet options.
constexpr std::uint8_t OPTION_TRANSMIT_BINARY = 0;
constexpr std::uint8_t OPTION_SUPPRESS_GO_AHEAD = 3;
constexpr std::uint8_t OPTION_COM_PORT = 44;

// COM-PORT-OPTION commands from client to server; the server answers with
// the same code plus SERVER_REPLY_OFFSET.
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t SET_CONTROL = 5;
constexpr std::uint8_t SERVER_REPLY_OFFSET = 100;

// SET-PARITY values.
constexpr std::uint8_t PARITY_NONE = 1;
constexpr std::uint8_t PARITY_ODD = 2;
constexpr std::uint8_t PARITY_EVEN = 3;
constexpr std::uint8_t PARITY_MARK = 4;
constexpr std::uint8_t PARITY_SPACE = 5;

// SET-STOPSIZE values.
constexpr std::uint8_t STOPSIZE_ONE = 1;
constexpr std::uint8_t STOPSIZE_TWO = 2;
constexpr std::uint8_t STOPSIZE_ONE5 = 3;

// SET-CONTROL values used here.
constexpr std::uint8_t CONTROL_RTS_ON = 11;
constexpr std::uint8_t CONTROL_RTS_OFF = 12;

// Appends data bytes to *out with every 0xFF doubled.
void appendData(const std::uint8_t* data, std::size_t size, Bytes* out);

// Appends IAC <verb> <option>; verb is DO, DONT, WILL or WONT.
void appendNegotiation(std::uint8_t verb, std::uint8_t option, Bytes* out);

// Appends IAC SB 44 <command> <value, 0xFF doubled> IAC SE.
void appendComPortCommand(std::uint8_t command, const std::uint8_t* value, std::size_t size,
                          Bytes* out);

// SET-BAUDRATE's value: four bytes, most significant first.
void encodeBaudRate(std::uint32_t rate, std::uint8_t value[4]);

// One complete unit of the server's stream.
struct Event {
  enum class Kind {
    kData,            // payload: data bytes, unescaped
    kNegotiation,     // verb (DO/DONT/WILL/WONT) and option
    kSubnegotiation,  // option; payload: the bytes between option and IAC SE,
                      // unescaped (for COM-PORT-OPTION: command, then value)
    kCommand,         // any other IAC <verb> (NOP, GA, ...); verb only
  };
  Kind kind = Kind::kData;
  std::uint8_t verb = 0;
  std::uint8_t option = 0;
  Bytes payload;
};

// Reads the server's stream in pieces of any size; a unit split across
// pieces is completed by the next feed. Never reads outside the piece it is
// given. Input it cannot make sense of is skipped, never an error:
// - a subnegotiation longer than kMaxSubnegotiation bytes is dropped whole;
// - IAC followed inside a subnegotiation by anything but IAC or SE ends the
//   subnegotiation unreported, and that IAC <byte> is read as a command;
// - IAC SB IAC SE (no option) is dropped.
//
// Stream layout:
//   <byte != 255>                    data
//   IAC IAC                          data byte 255
//   IAC DO|DONT|WILL|WONT <option>   negotiation
//   IAC SB <option> <value> IAC SE   subnegotiation (255 in value doubled)
//   IAC <other>                      command
class Parser {
 public:
  static constexpr std::size_t kMaxSubnegotiation = 64;

  // Appends the units completed by these bytes to *events, in order.
  // Consecutive data bytes within one piece form one kData event.
  void feed(const std::uint8_t* data, std::size_t size, std::vector<Event>* events);

 private:
  enum class State { kData, kIac, kOption, kSbOption, kSb, kSbIac };

  void appendDataByte(std::uint8_t byte, std::vector<Event>* events);
  void readIacByte(std::uint8_t byte, std::vector<Event>* events);

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::uint8_t sbOption_ = 0;
  bool sbOverlong_ = false;
  Bytes sb_;
  std::size_t pieceStart_ = 0;  // events->size() when this feed began
};

}  // namespace rfc2217
}  // namespace platform
