// The one answer the host gives to "is this scope supported?", whatever
// asks: capture (through the add-in), doctor, find, scope idn and the
// Python module. It is the add-in's own connection check, with the table
// loaded as a host that shows the supported instruments loads it: a model
// counts when its identifier occurs anywhere in the identification reply,
// ignoring case ("CORVANE,MSOHX5104X,..." contains MSOHX5104), and a reply
// that names none of them ("CORVANE,HALVIO") is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cvn::host {

// The identifiers of a SupportedInstruments text (the add-in joins its list
// with ", "); an empty text lists none.
std::vector<std::string> ModelsOfList(std::string_view supportedInstruments);

// Loads this program's copy of the add-in's model table as the module that
// serves the class would (its built-in list, or the override file beside
// that module, read afresh), so the add-in routines linked into the program
// check the same list. Gives the identifiers.
const std::vector<std::string>& LoadHostModelTable();

// "*IDN?" asked at address on a connection of its own, with the reply
// time-out of the add-in's connection check (500 ms); the reply as
// received. Throws when the address does not open or does not answer.
std::string ReadIdentification(const std::string& address);

// The model field of a reply (the second, without blanks and line end);
// empty when the reply has only one field.
std::string ModelField(std::string_view reply);

}  // namespace cvn::host
