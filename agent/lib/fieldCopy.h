/* SPDX-License-Identifier: BSD-3-Clause */
// Bounded copies into the fixed-width text fields of the agent's records.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Text held in a fixed-width field: up to the first NUL or the field's end
// (a field filled to its last byte carries no terminator).
template <std::size_t N>
std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// Stores text as a NUL-terminated string, cut to N-1 bytes.
template <std::size_t N>
void setFieldText(char (&field)[N], std::string_view text)
{
    std::memset(field, 0, N);
    if (!text.empty())   // an empty view may carry no pointer at all
        std::memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
}

// Stores up to N octets; a value of exactly N octets fills the field with no
// terminator (readers use fieldText).
template <std::size_t N>
void setFieldOctets(char (&field)[N], const void *data, std::size_t len)
{
    std::memset(field, 0, N);
    if (len)
        std::memcpy(field, data, len < N ? len : N);
}
