#pragma once
// Finds a channel key in a value-query key: the first place where the text
// "channel_" is followed by decimal digits, an underscore and one more
// character that is not a line end. This is the leftmost match of the search
// pattern channel_(\d+)_(.+?), found without building a regular expression.
#include <cstddef>
#include <string>

namespace ac {

struct ChannelKey {
    bool found = false;
    bool tooLarge = false;  // the channel number does not fit an int
    int channel = 0;
    char letter = 0;        // the one character after the second underscore
};

ChannelKey FindChannelKey(const std::string& key);

}  // namespace ac
