# Copies both ways with every translation, as a person would: pick the
# sample drive, open its volume, copy "Read Me" to the PC five times
# (answering each PC name clash with a new name), then bring the MacBinary
# and BinHex copies and a PC text file back (answering the Mac name clash
# by renaming once and overwriting once). The results are checked on the PC
# side with the file system and on the image with verrin-cli.
main=class:KvolClass
image="$OUT/transfer-sample.img"
e2e_sample_image "$image"
e2e_folder_with_image transfer "$image"
pc="$E2E_DIR/pc"
printf 'first line\r\nsecond line\r\n' > "$pc/notes.txt"

e2e_start
e2e_open_first_volume
expect_eq "$(spy list $main 119)" "count 2 selected " "root folder: Documents and Read Me"
e2e_shot transfer-root

# Mac to PC. Every translation names its copy "Read Me" (no extension is
# set), so from the second one on the PC name clash is answered.
for letter in d t r m b; do
    click_row $main 119 1
    e2e_copy "Mac to PC" $letter "$([ $letter = m ] && echo template-prefmac)"
    [ $letter = d ] && continue
    expect_window "PC Name Already Exists"
    [ $letter = t ] && e2e_shot template-pcollision
    type_text "Read Me.$letter"
    key Return
    expect_no_window "PC Name Already Exists"
done
sleep 1
e2e_shot transfer-mac-to-pc
cmp -s "$pc/Read Me" <(printf 'Read me first.\rVerrin reads and writes HFS volumes.\r') ||
    e2e_fail "the data fork copy differs"
cmp -s "$pc/Read Me.t" <(printf 'Read me first.\r\nVerrin reads and writes HFS volumes.\r\n') ||
    e2e_fail "the text copy has other line ends"
[ -f "$pc/Read Me.r" ] && [ ! -s "$pc/Read Me.r" ] || e2e_fail "the resource fork copy is not empty"
expect_eq "$(head -c 7 "$pc/Read Me.m" | od -An -tx1 | tr -d ' ')" "00075265616420" "MacBinary header"
grep -q "(This file must be converted with BinHex 4.0)" "$pc/Read Me.b" || e2e_fail "no BinHex header"

# PC to Mac. The PC list: notes.txt, Read Me, Read Me.b, Read Me.d... sorted
# by name; rows are looked up by the order the PC side shows.
row_of() { ls "$pc" | LC_ALL=C sort -f | grep -nxF "$1" | cut -d: -f1 | awk '{print $1 - 1}'; }
click_row $main 111 "$(row_of 'Read Me.m')"
e2e_copy "PC to Mac" m template-prefpc
expect_window "Mac Name Already Exists"
e2e_shot template-mcollision
type_text "From MacBinary"
key Return
expect_no_window "Mac Name Already Exists"
click_row $main 111 "$(row_of 'Read Me.b')"
e2e_copy "PC to Mac" b
expect_window "Mac Name Already Exists"
click "Mac Name Already Exists" 324     # OverWrite
expect_no_window "Mac Name Already Exists"
click_row $main 111 "$(row_of notes.txt)"
e2e_copy "PC to Mac" t
sleep 1
e2e_shot transfer-pc-to-mac
key Escape
e2e_wait_end

listing=$("$CLI" ls -l "$image")
expect_contains "$listing" "From MacBinary" "MacBinary copy under its new name"
cmp -s <("$CLI" cat "$image" "From MacBinary") <(printf 'Read me first.\rVerrin reads and writes HFS volumes.\r') ||
    e2e_fail "the MacBinary copy's data fork differs"
expect_contains "$(grep "Read Me" <<<"$listing")" "TEXT/ttxt" "BinHex copy kept type and creator"
cmp -s <("$CLI" cat "$image" notes.txt) <(printf 'first line\rsecond line\r') ||
    e2e_fail "the text copy to the Mac has other line ends"
"$CLI" check "$image" >/dev/null || e2e_fail "the volume does not pass the check"
