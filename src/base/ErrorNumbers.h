#pragma once

#include <cstdint>

// Every number Kestrine can show after "Error code = ", with its meaning. The
// README's table of error numbers begins each row with the meaning given here,
// and a test compares the two.
enum ErrorNumber : std::int32_t {
  kOutOfMemory = 7,      // Out of memory while preparing the message.
  kInternalError = 51,   // An internal error while preparing the message, in the description's words.
  kObjectNotLoaded = 91, // A control was used while its window was not open.
  kInvalidIndex = 381,   // A list item was asked for by an index the list does not have.
  kFirstRefusal = 400,   // The server refused: the number is its SMTP reply code.
  kLastRefusal = 599,
  kNoService = 1001,         // No mail service listening: no address of the server took a connection.
  kHostNotFound = 1002,      // The server's host name could not be resolved.
  kTimedOut = 1003,          // Timed out, naming the bound that ran out and the step.
  kConnectionLost = 1004,    // The server took the connection and then closed or reset it, with the step.
  kTlsFailure = 1005,        // STARTTLS was offered but TLS failed, with the TLS library's words.
  kInvalidAddress = 1006,    // Invalid address, quoting the offending text and why. Nothing was sent.
  kNoRecipient = 1007,       // No recipient (To is empty). Nothing was sent.
  kNoSender = 1008,          // No sender (From is empty). Nothing was sent.
  kInvalidImportance = 1009, // Importance is not 0, 1 or 2.
  kUtf8NotOffered = 1010,   // An address with a non-ASCII local part, and the server does not offer SMTPUTF8.
  kNotSmtp = 1011,          // The server answered with something that is not a proper SMTP reply.
  kCannotStart = 1012,      // The mail component could not start: its module could not be opened.
  kAlreadySent = 1013,      // This message object has already been sent.
  kSubmissionFailed = 1014, // Any other submission failure.
};

// True for numbers that are a server's SMTP reply code.
constexpr bool IsServerRefusal(std::int32_t number) {
  return number >= kFirstRefusal && number <= kLastRefusal;
}
