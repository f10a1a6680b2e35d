// Disk images as Mac drives of the program: the section "Disk Images" of
// the settings file names image files under the keys "Image1", "Image2" and
// so on; each opens as an image drive after the devices, writable when the
// file allows it, read-only otherwise. Images the user opens while the
// program runs join the list, which is written back with the other
// settings. A listed file that cannot be opened stays listed (it may be on
// a medium that is not there today) but gets no drive.
// Calls the image drives, the diskette formatter choice and the profile
// file functions.
#pragma once

#include <string>
#include <vector>

namespace verrin {

inline constexpr const char* diskImagesSection = "Disk Images";

// Opens every image the settings file lists; returns how many opened. The
// error word is left clear.
int openListedImages(const std::string& iniPath);

// Opens one image as a drive and adds it to the list; its label is the
// file's name. An image already open is not opened twice: its drive index
// is returned. Returns the drive index, or -1 with lastError set and
// imageProblem() telling why when the file could be opened but not used.
int addImageDrive(const std::string& path);
const char* imageProblem();

// The files listed, in order.
const std::vector<std::string>& listedImages();

// Writes the list back as Image1..ImageN.
void saveImageList(const std::string& iniPath);

}  // namespace verrin
