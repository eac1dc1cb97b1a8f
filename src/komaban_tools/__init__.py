"""Tools around komaban: standard rules, an engine, records, diagrams and evaluation.

komaban itself holds positions and plays pseudo-legal and random moves; this
package, shipped in the same wheel, builds what a shogi program needs on its
public API alone, one module per concern:

* `komaban_tools.notation`: standard SFEN, USI and komaban move text;
* `komaban_tools.rules`: legal moves, check, checkmate, repetition;
* `komaban_tools.search`: Monte Carlo tree search on native random playouts;
* `komaban_tools.usi`: the USI engine (the `komaban-usi` command);
* `komaban_tools.records`: CSA and KIF game records;
* `komaban_tools.svg`: board diagrams (the `komaban-svg` command);
* `komaban_tools.replay`: pages that replay a game (the `komaban-replay` command);
* `komaban_tools.evaluate`: Monte Carlo evaluation of positions (`komaban-evaluate`);
* `komaban_tools.workers`: worker processes and stopping, shared by the above.

Only `evaluate` needs libraries beyond the standard library (the `evaluate`
extra).
"""
