#pragma once
// The card store as an output of a run: every run and card remembered in
// cards.sqlite, and at the end the comparison with the earlier run of the same
// settings and the changes file.

#include "run/run_output.h"
#include "store/card_store.h"

class CardStoreOutput final : public RunOutput {
public:
    // The store in `folder`; opened at once, never failing the run.
    explicit CardStoreOutput(const QString& folder) : store_(folder) {}

    std::vector<QString> Begin(const RunRequest& request, const QString& key,
                               bool continued) override;
    void Found(const QString& url) override { store_.Found(url); }
    void RowWritten(const CardRecord& card) override { store_.RowWritten(card); }
    void Gone(const QString& url) override { store_.Gone(url); }
    std::vector<QString> Sync() override;
    std::vector<QString> Finish(RunFinish& finish) override;

private:
    CardStore store_;
};
