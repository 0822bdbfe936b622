// Default host names of the game's servers, in one place. They lie under the reserved
// example domain, so a fresh installation never contacts someone else's machine;
// starter.dat or the registry point the Starter at a real server.
#pragma once

constexpr char DefaultHttpHost[] = "www.skyvora.example";   // web server, port 80
constexpr char DefaultFtpHost[] = "ftp.skyvora.example";    // file server, port 21
constexpr char WebsiteHost[] = "www.skyvora.example";       // the game's website
