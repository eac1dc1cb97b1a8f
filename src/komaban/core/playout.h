#ifndef KOMABAN_CORE_PLAYOUT_H
#define KOMABAN_CORE_PLAYOUT_H

#include <array>
#include <cstdint>
#include <string>

#include "komaban/core/game.h"
#include "komaban/core/move.h"
#include "komaban/core/movegen.h"
#include "komaban/core/position.h"
#include "komaban/core/random.h"

namespace komaban {

// Random play with state carried from ply to ply. For the length of one
// playout it keeps, beside the game record, a mailbox of the squares and
// per-colour piece lists, built from the record when the playout starts and
// updated by every move. Of the record, moves keep the colour boards and the
// hand up to date; sync() writes the rest back.
//
// A draw is by rejection: every entry of the move list of
// the side to move is exactly one candidate, the other candidates stand for
// nothing, and a draw that lands on one of those is repeated. Candidates:
//
//   steps and jumps: per group of kinds that step alike, its pieces times
//     their directions, again promoting for the Silvers, Knights and Pawns
//     that stand where a step can promote. A candidate's piece is an index
//     into its group's list; it stands for a move when the landing square
//     holds neither a wall nor a mover's piece (and, promoting, the piece or
//     its landing is in the zone): one look at the mailbox.
//   Rook, Bichop, Dragon and Horse slides: per piece, the squares its
//     rays reach on an empty board (again promoting, for a promotable kind,
//     those in the zone, all of them from the zone), listed at compile time
//     per square with their direction. One stands for a move when nothing
//     stands between the piece and it and no mover's piece on it: a few
//     operations on the path's bitboard.
//   Lance slides: the targets of all Lances at once, exact.
//   drops: exact, a run of squares per kind held.
//
// The incremental state covers sound positions with the fresh hand labels
// and a Black or White side to move, which is every position reached from
// the start or from well-formed text; for any other position attach()
// declines and play_random plays the plain way.
class Playout {
 public:
  struct Candidate {
    Move move;
    PieceType kind;  // the moving or dropped piece's kind
    bool accepted;
  };
  static constexpr int MAX_REJECTIONS = 32;

  // Builds the state for g, which play_move then plays on (g must outlive
  // it). Returns false, keeping nothing, for a position the state does not
  // cover.
  bool attach(Game& g);

  // One move of play_random, with the same result once sync() has written
  // the record (see play_random_move): returns whether the game goes on;
  // false with nothing played when the side to move has no move.
  bool play_move(Rng& rng, Move* played = nullptr);
  // Writes the squares' kinds and occupancy back into the record.
  void sync();

  // The draw's steps, for checking the candidates one by one: prepare() for
  // the side to move, then candidate i < weight().
  void prepare();
  std::uint32_t weight() const { return step_weight_ + ray_weight_ + lance_weight_ + drop_weight_; }
  Candidate candidate(std::uint32_t i) const;

  // Scratch space for the plain way, shared with play_random.
  MoveBag& bag() { return bag_; }

  // The state compared with one built afresh from the record: empty when
  // they agree, else what differs.
  std::string verify() const;

  // Groups of step and jump candidates: seven plain, three promoting, and
  // one without steps for the kinds that only slide.
  static constexpr int GROUP_NB = 11;
  // The step groups, then the ray list, then a sink: the operations on the
  // lists a kind is not in are done on the sink instead of being skipped,
  // so that moving a piece takes no branch on its kind.
  static constexpr int RAY_LIST = GROUP_NB, SINK = GROUP_NB + 1, LIST_NB = GROUP_NB + 2;

 private:
  // Squares in no order, with each square's place among them and, in the
  // ray list, each piece's candidates. Indexed by bytes, so that the sink
  // list stays in bounds whatever it is given.
  struct List {
    std::array<Square, 256> squares;
    std::array<std::uint8_t, 256> at;
    std::array<std::uint8_t, 256> weight;
    std::uint8_t size;
  };
  struct Side {
    std::array<List, LIST_NB> lists;
    // Candidates of the groups up to and including each, when not stale.
    std::array<std::uint16_t, GROUP_NB> step_ends;
    bool ends_stale;
    std::uint32_t ray_weight;  // candidates of the ray list
    int kings;
    // Pawns per column, and rows 1 to 9 of the columns that hold one: where
    // the side may not drop a Pawn.
    std::array<std::uint8_t, FILE_NB> pawns;
    Bitboard pawn_columns;
    Bitboard lances;
  };
  struct DropRun {
    Bitboard targets;
    std::uint32_t end;  // candidates of this run and those before it
    PieceType kind;
  };

  void build();
  static void push(List& list, Square s) {
    list.at[s] = list.size;
    list.squares[list.size++] = s;
  }
  static void erase(List& list, Square s) {
    const std::uint8_t i = list.at[s];
    const Square last = list.squares[--list.size];
    list.squares[i] = last;
    list.weight[i] = list.weight[list.size];
    list.at[last] = i;
  }
  static void relocate(List& list, Square from, Square to) {
    const std::uint8_t i = list.at[from];
    list.at[to] = i;
    list.squares[i] = to;
  }
  void add_piece(int c, Square s, PieceType kind);
  void remove_piece(int c, Square s, PieceType kind);
  void move_piece(int c, Square from, Square to, PieceType kind);
  void apply(Move m, PieceType kind);
  Candidate decode(std::uint32_t i) const;

  Game* game_ = nullptr;
  // What stands on square s is cell_[s + PAD] (see playout.cpp): every step
  // or jump from a playing square lands inside, on a wall cell when it
  // leaves the board.
  static constexpr int PAD = 24;
  std::array<std::uint8_t, 128 + 2 * PAD> cell_;
  std::array<Side, COLOR_NB> sides_;

  // The ply being drawn.
  int c_ = 0;
  Bitboard own_ = 0, blockers_ = 0, zone_ = 0;
  const std::array<std::uint16_t, GROUP_NB>* step_ends_ = nullptr;
  const List* rays_ = nullptr;
  std::uint32_t step_weight_ = 0, ray_weight_ = 0, drop_weight_ = 0;
  // All the mover's Lances' targets, plain then promoting: exact.
  Bitboard lances_ = 0, lance_plain_ = 0, lance_promoting_ = 0;
  std::uint32_t lance_plain_count_ = 0, lance_weight_ = 0;
  std::array<DropRun, 7> drops_;
  int drop_count_ = 0;
  MoveBag bag_;  // after too many rejections in a row, and for the plain way
};

// Plays uniformly random moves until the game is over and records the
// winner when a move of this call ended it. A side to move without any move
// loses: the game stops there with the opponent as winner. Each move is drawn
// with the same chance as an index into the move list. Positions the
// playout's state covers are played with it, any other the plain way, move
// by move from the exact bag (play_random_move); playout is scratch space.
void play_random(Game& g, Rng& rng, Playout& playout);

// Per-thread scratch playout for random play.
Playout& scratch_playout();

}  // namespace komaban

#endif
