// The fixed data of the game: stone colours, the five puzzle layouts and the
// instructions text.
#include "game/SlabixView.h"

#include "game/Product.h"

// Stones 8 to 11 repeat the colours of stones 0 to 3.
const COLORREF g_crStoneColour[NUM_STONES] = {
    0x00FFFFB4,  // pale aqua
    0x00FFBDEF,  // light lilac
    0x009FFDCC,  // pale lime green
    0x00CBB9FF,  // light pink
    0x00A6A6D2,  // dusty rose
    0x0084ACFF,  // light salmon
    0x00B4F0FF,  // pale yellow
    0x00E8C0C0,  // lavender blue
    0x00FFFFB4,  // pale aqua
    0x00FFBDEF,  // light lilac
    0x009FFDCC,  // pale lime green
    0x00CBB9FF,  // light pink
};

// Start places (left, top, right, bottom). In every layout the areas add up
// to the patio's 552 x 288 inches and no stone starts on or near the patio.
const CRect g_rcLayouts[NUM_LAYOUTS][NUM_STONES] = {
    {
        {30, 30, 440, 78},    {450, 30, 570, 138},  {580, 30, 770, 90},   {780, 30, 1000, 90},
        {30, 88, 260, 128},   {270, 88, 410, 228},  {420, 88, 442, 196},  {450, 148, 530, 188},
        {580, 100, 770, 170}, {780, 100, 970, 210}, {30, 140, 200, 280},  {210, 138, 262, 318},
    },
    {
        {30, 30, 122, 210},   {30, 643, 360, 693},  {132, 30, 284, 138},  {484, 30, 719, 55},
        {729, 30, 824, 268},  {30, 220, 90, 300},   {110, 310, 165, 523}, {294, 30, 474, 163},
        {484, 65, 664, 145},  {30, 320, 100, 432},  {30, 533, 160, 633},  {170, 533, 240, 609},
    },
    {
        {30, 30, 100, 78},    {110, 30, 190, 78},   {200, 30, 280, 126},  {290, 30, 370, 174},
        {380, 30, 460, 222},  {470, 30, 620, 78},   {630, 30, 860, 78},   {30, 184, 340, 232},
        {30, 242, 420, 290},  {430, 242, 900, 290}, {122, 300, 202, 540}, {30, 300, 112, 588},
    },
    {
        {30, 30, 260, 138},   {270, 30, 473, 114},  {484, 30, 568, 138},  {30, 218, 222, 314},
        {730, 30, 852, 126},  {862, 30, 970, 114},  {30, 148, 271, 208},  {578, 30, 720, 174},
        {30, 324, 271, 348},  {30, 358, 172, 418},  {30, 428, 126, 512},  {136, 428, 232, 548},
    },
    {
        {30, 30, 162, 114},   {172, 30, 352, 102},  {362, 30, 578, 90},   {588, 30, 636, 246},
        {646, 30, 778, 138},  {788, 30, 932, 126},  {30, 124, 162, 220},  {30, 230, 174, 326},
        {30, 336, 114, 564},  {124, 336, 280, 444}, {30, 574, 162, 634},  {788, 136, 944, 220},
    },
};

const char* const g_pszInstructions[22] = {
    "You are a contractor who builds stone patios for a living. You've beeen hired to build a 46-foot long by ",
    "24-foot wide patio using colored stones that the owner will provide. You will be paid $8000 for this job ",
    "plus a $2400 bonus if you can lay the stones so that no two stones of the same color are next to each ",
    "other. To move the stones you can use a fork lift which costs you $200 for each movement or you can ",
    "use workers which will cost you $2 per inch moved. To avoid damaging the stones, you are not allowed ",
    "to drag them over each other. \nWhen you press the space bar you will see the stones laying around the ",
    "dirt-colored patio area. To move a stone with the fork lift, click and drag it to its destination. ",
    "Avoid hitting any other stones in the process as this will cost you money in the form of extra moves. ",
    "When you hit another stone, you will hear a sound and the move is ended at that point. If you attempt ",
    "move a stone outside of the game boundary, you will hear a sound and the move is interrupted at that point. ",
    "To move a stone by hand, click on it in place (this is not necessary if this is the same stone that is ",
    "currently being moved), then use the arrow ",
    "keys on your keyboard. In all cases, there is more than one way to do a perfect job. ",
    "\nWhen you are done, press the End key. Your profit will be the $8000 less the cost of all the moves and ",
    "a penalty of $4 for every square inch of dirt not covered by a stone. If the stones are laid perfectly, ",
    "that is, with no dirt showing and no stones of the same color next to each other, you'll get the ",
    "$2400 bonus. In theory, the maximum profit that you can make is $8000. This would require each stone to ",
    "be placed in its correct destination with a single fork lift move. The worst you can do is zero. ",
    "Any costs and penalties over and above your income are disregarded. ",
    "As you are playing, the total cost of all moves made so far is shown in the ",
    "bottom right corner of the screen. ",
    "\nFor best appearance, set the screen to 1024x768 or higher. ",
};

const char* const g_pszClosingNotice =
    "\n\n" SLABIX_NAME " " SLABIX_VERSION ". " SLABIX_RIGHTS ". All rights reserved. "
    "This game is free: you may copy it and give it away, as long as nothing is charged for it. ";

const char* const g_pszMoreGames =
    "\n\nLooking for more? Other free puzzle games from the makers of " SLABIX_NAME " are passed around "
    "wherever this one was found: ask the friend who gave you this game. ";
